#include "link/wake_signal.h"

#include <stdexcept>
#include <sys/eventfd.h>
#include <unistd.h>

namespace tk7v {

WakeSignal::WakeSignal() : handle_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (handle_ < 0) throw std::runtime_error("eventfd failed");
}

WakeSignal::~WakeSignal() {
    ::close(static_cast<int>(handle_));
}

void WakeSignal::signal() {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(static_cast<int>(handle_), &one, sizeof one);
}

void WakeSignal::clear() {
    std::uint64_t count;
    [[maybe_unused]] auto n = ::read(static_cast<int>(handle_), &count, sizeof count);
}

} // namespace tk7v
