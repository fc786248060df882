#include "link/device_text.h"

#include "link/wide_text_win32.h"

namespace tk7v {

// The system's own converters: Windows-1251 to UTF-16 to UTF-8. A byte the code page leaves
// undefined (0x98) becomes U+FFFD.
std::string DeviceTextToUtf8(std::string_view bytes) {
    std::wstring wide = WideFrom(1251, bytes);
    // The one byte the code page leaves undefined comes back as the control character U+0098;
    // it is shown as a replacement mark, as elsewhere.
    for (wchar_t& c : wide)
        if (c == 0x98) c = 0xFFFD;
    return Utf8FromWide(wide);
}

} // namespace tk7v
