#include "link/stop_signal.h"

#include <cerrno>
#include <poll.h>

namespace tk7v {

bool StopSignal::waitFor(std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!requested()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{static_cast<int>(nativeHandle()), POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count()) + 1) < 0 && errno != EINTR) return requested();
    }
    return true;
}

} // namespace tk7v
