#include "link/system_error.h"

#include "link/wide_text_win32.h"

#include <windows.h>

namespace tk7v {

SysError MakeSysError(std::uint32_t code) {
    const auto kind = [code] {
        switch (code) {
        case 0:
            return ErrorKind::None;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return ErrorKind::NotFound;
        // Windows says a port is busy by refusing access to it.
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return ErrorKind::Busy;
        case ERROR_INVALID_PARAMETER:
            return ErrorKind::InvalidSettings;
        case ERROR_INVALID_FUNCTION:
        case ERROR_INVALID_HANDLE:
        case ERROR_BAD_COMMAND:
        case ERROR_GEN_FAILURE:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEVICE_REMOVED:
            return ErrorKind::DeviceGone;
        default:
            return ErrorKind::Other;
        }
    }();
    return {code, kind};
}

std::string SystemErrorText(std::uint32_t code) {
    if (code == 0) return {};
    // The system's message table in the user's language, as the system gives it (line break
    // included), turned from the ANSI code page into UTF-8.
    char* text = nullptr;
    const DWORD n = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0, nullptr);
    std::string ansi = n && text ? std::string(text, n) : std::string();
    if (text) ::LocalFree(text);
    if (ansi.empty()) return {};
    return Utf8FromWide(WideFrom(CP_ACP, ansi));
}

} // namespace tk7v
