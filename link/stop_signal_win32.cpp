#include "link/stop_signal.h"

#include <windows.h>

namespace tk7v {

bool StopSignal::waitFor(std::chrono::milliseconds timeout) const {
    if (requested()) return true;
    ::WaitForSingleObject(reinterpret_cast<HANDLE>(nativeHandle()), static_cast<DWORD>(timeout.count()));
    return requested();
}

} // namespace tk7v
