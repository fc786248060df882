#include "link/stop_signal.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <unistd.h>

namespace tk7v {

StopSignal::StopSignal() : handle_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (handle_ < 0) throw std::runtime_error("eventfd failed");
}

StopSignal::~StopSignal() {
    ::close(static_cast<int>(handle_));
}

void StopSignal::request() {
    if (flag_.exchange(true, std::memory_order_acq_rel)) return;
    const std::uint64_t one = 1;
    // The counter never overflows with one write per signal; nothing to do if it fails.
    [[maybe_unused]] auto n = ::write(static_cast<int>(handle_), &one, sizeof one);
}

bool StopSignal::waitFor(std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!requested()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{static_cast<int>(handle_), POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count()) + 1) < 0 && errno != EINTR) return requested();
    }
    return true;
}

} // namespace tk7v
