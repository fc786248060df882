#include "link/wake_signal.h"

#include <stdexcept>
#include <windows.h>

namespace tk7v {

// A manual-reset event, reset by the watching thread before it runs what it was woken for: a
// signal given meanwhile leaves the event set for the next round.
WakeSignal::WakeSignal()
    : handle_(reinterpret_cast<std::intptr_t>(::CreateEventA(nullptr, TRUE, FALSE, nullptr))) {
    if (!handle_) throw std::runtime_error("CreateEvent failed");
}

WakeSignal::~WakeSignal() {
    ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

void WakeSignal::signal() {
    ::SetEvent(reinterpret_cast<HANDLE>(handle_));
}

void WakeSignal::clear() {
    ::ResetEvent(reinterpret_cast<HANDLE>(handle_));
}

} // namespace tk7v
