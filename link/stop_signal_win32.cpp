#include "link/stop_signal.h"

#include <stdexcept>
#include <windows.h>

namespace tk7v {

namespace {

HANDLE handleOf(std::intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}

} // namespace

// A manual-reset event: once requested, every wait that includes it ends at once.
StopSignal::StopSignal()
    : handle_(reinterpret_cast<std::intptr_t>(::CreateEventA(nullptr, TRUE, FALSE, nullptr))) {
    if (!handle_) throw std::runtime_error("CreateEvent failed");
}

StopSignal::~StopSignal() {
    ::CloseHandle(handleOf(handle_));
}

void StopSignal::request() {
    if (flag_.exchange(true, std::memory_order_acq_rel)) return;
    ::SetEvent(handleOf(handle_));
}

bool StopSignal::waitFor(std::chrono::milliseconds timeout) const {
    if (requested()) return true;
    ::WaitForSingleObject(handleOf(handle_), static_cast<DWORD>(timeout.count()));
    return requested();
}

} // namespace tk7v
