#include "network.h"

// Before <windows.h>, which would bring the old winsock.h.
#include <winsock2.h>

#include "wide_text_win32.h"

#include <algorithm>

namespace tk7v {

SocketReady WaitForSocket(int socket, bool forWrite, std::chrono::milliseconds limit) {
    if (socket < 0) return SocketReady::Failed;
    // A client library hands its SOCKET over as an int; Windows keeps SOCKET values that small.
    WSAPOLLFD p{static_cast<SOCKET>(socket), static_cast<SHORT>(forWrite ? POLLWRNORM : POLLRDNORM), 0};
    const int n = ::WSAPoll(&p, 1, static_cast<INT>(std::max<long long>(limit.count(), 0)));
    if (n > 0) return (p.revents & POLLNVAL) ? SocketReady::Failed : SocketReady::Ready;
    return n == 0 ? SocketReady::TimedOut : SocketReady::Failed;
}

std::string ComputerName() {
    wchar_t name[256] = {};
    DWORD size = 255;
    if (!::GetComputerNameExW(ComputerNameDnsHostname, name, &size)) return {};
    return Utf8FromWide(std::wstring_view(name, size));
}

} // namespace tk7v
