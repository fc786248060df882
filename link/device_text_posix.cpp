#include "link/device_text.h"

#include <cerrno>
#include <iconv.h>

namespace tk7v {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

} // namespace

std::string DeviceTextToUtf8(std::string_view bytes) {
    std::string out;
    const iconv_t cd = ::iconv_open("UTF-8", "CP1251");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        // No converter on this system: keep what is plain ASCII readable.
        for (const char c : bytes)
            out += static_cast<unsigned char>(c) < 0x80 ? std::string(1, c) : std::string(kReplacement);
        return out;
    }
    std::string in(bytes);
    char* src = in.data();
    std::size_t srcLeft = in.size();
    while (srcLeft > 0) {
        char buffer[256];
        char* dst = buffer;
        std::size_t dstLeft = sizeof buffer;
        const std::size_t rc = ::iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buffer, static_cast<std::size_t>(dst - buffer));
        if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
            // A byte the code page leaves undefined (0x98): show that something was there.
            out += kReplacement;
            ++src;
            --srcLeft;
        }
    }
    ::iconv_close(cd);
    return out;
}

} // namespace tk7v
