#include "network.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace tk7v {

SocketReady WaitForSocket(int socket, bool forWrite, std::chrono::milliseconds limit) {
    if (socket < 0) return SocketReady::Failed;
    pollfd p{socket, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
    const auto until = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        const int n = ::poll(&p, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
        if (n > 0) return (p.revents & POLLNVAL) ? SocketReady::Failed : SocketReady::Ready;
        if (n == 0) return SocketReady::TimedOut;
        if (errno != EINTR) return SocketReady::Failed;
    }
}

std::string ComputerName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

} // namespace tk7v
