#include "link/system_error.h"

#include "model/file_texts.h"

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
    // The message table ends its sentences with a line break; ours go on after them.
    while (!ansi.empty() && (ansi.back() == '\n' || ansi.back() == '\r' || ansi.back() == ' '))
        ansi.pop_back();
    if (ansi.empty()) return {};
    return Utf8FromWide(WideFrom(CP_ACP, ansi));
}

bool HasOwnErrorText(std::uint32_t) {
    // The system words every failure itself, in the user's language.
    return false;
}

std::error_code FileErrorCode(std::uint32_t code) {
    using E = std::errc;
    const struct {
        DWORD code;
        E condition;
    } known[] = {
        {ERROR_FILE_NOT_FOUND, E::no_such_file_or_directory},
        {ERROR_PATH_NOT_FOUND, E::no_such_file_or_directory},
        {ERROR_INVALID_DRIVE, E::no_such_file_or_directory},
        {ERROR_BAD_NETPATH, E::no_such_file_or_directory},
        {ERROR_ACCESS_DENIED, E::permission_denied},
        {ERROR_DISK_FULL, E::no_space_on_device},
        {ERROR_HANDLE_DISK_FULL, E::no_space_on_device},
        {ERROR_WRITE_PROTECT, E::read_only_file_system},
        {ERROR_SHARING_VIOLATION, E::device_or_resource_busy},
        {ERROR_LOCK_VIOLATION, E::device_or_resource_busy},
        {ERROR_FILENAME_EXCED_RANGE, E::filename_too_long},
        {ERROR_DIRECTORY, E::not_a_directory},
        {ERROR_BAD_FILE_TYPE, E::no_such_device},
        {ERROR_CRC, E::io_error},
        {ERROR_NOT_READY, E::io_error},
    };
    for (const auto& k : known)
        if (k.code == code) return std::make_error_code(k.condition);
    return {static_cast<int>(code), std::system_category()};
}

std::string FileErrorText(std::uint32_t code) {
    if (code == 0) return {};
    if (const std::error_code e = FileErrorCode(code); e.category() == std::generic_category())
        return texts::FileErrorReason(e);
    // Any other reason in the system's words, without the full stop it ends with.
    std::string text = SystemErrorText(code);
    while (!text.empty() && text.back() == '.')
        text.pop_back();
    return text;
}

} // namespace tk7v
