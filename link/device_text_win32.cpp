#include "link/device_text.h"

#include <windows.h>

namespace tk7v {

// The system's own converters: Windows-1251 to UTF-16 to UTF-8. A byte the code page leaves
// undefined (0x98) becomes U+FFFD.
std::string DeviceTextToUtf8(std::string_view bytes) {
    if (bytes.empty()) return {};
    const int n = static_cast<int>(bytes.size());
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    const int w = ::MultiByteToWideChar(1251, 0, bytes.data(), n, wide.data(), n);
    wide.resize(static_cast<std::size_t>(w > 0 ? w : 0));
    // The one byte the code page leaves undefined comes back as the control character U+0098;
    // it is shown as a replacement mark, as elsewhere.
    for (wchar_t& c : wide)
        if (c == 0x98) c = 0xFFFD;
    const int u = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                        nullptr, nullptr);
    std::string out(static_cast<std::size_t>(u > 0 ? u : 0), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), u, nullptr,
                          nullptr);
    return out;
}

} // namespace tk7v
