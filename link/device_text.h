#pragma once
// Texts that come from the device (its identification line) are bytes in its code page,
// Windows-1251; the window and the terminal show UTF-8. The conversion is the system's own on
// each platform.
#include <string>
#include <string_view>

namespace tk7v {

// A byte the code page does not define becomes U+FFFD.
std::string DeviceTextToUtf8(std::string_view bytes);

} // namespace tk7v
