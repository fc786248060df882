#include "link/system_error.h"

#include "model/file_texts.h"

#include <cerrno>
#include <cstring>

namespace tk7v {

SysError MakeSysError(std::uint32_t code) {
    const auto kind = [code] {
        switch (code) {
        case 0:
            return ErrorKind::None;
        case EIO:
        case ENXIO:
        case ENODEV:
        case EBADF:
            return ErrorKind::DeviceGone;
        case EBUSY:
        case EAGAIN:
            return ErrorKind::Busy;
        case EACCES:
        case EPERM:
            return ErrorKind::AccessDenied;
        case ENOENT:
            return ErrorKind::NotFound;
        case EINVAL:
            return ErrorKind::InvalidSettings;
        case ENOTTY:
            return ErrorKind::NotAPort;
        default:
            return ErrorKind::Other;
        }
    }();
    return {code, kind};
}

namespace {

const char* OwnText(std::uint32_t code) {
    switch (code) {
    case ENOENT:
        return "Порт не найден.";
    case EACCES:
    case EPERM:
        return "Отказано в доступе. Для работы с последовательными портами добавьте пользователя в "
               "группу dialout (sudo usermod -aG dialout $USER) и войдите в систему заново.";
    case EBUSY:
        return "Порт занят другой программой.";
    case EIO:
        return "Ошибка ввода-вывода: устройство отключено или не отвечает.";
    case ENXIO:
    case ENODEV:
        return "Устройство отключено.";
    default:
        return nullptr;
    }
}

} // namespace

bool HasOwnErrorText(std::uint32_t code) {
    return OwnText(code) != nullptr;
}

std::string SystemErrorText(std::uint32_t code) {
    if (code == 0) return {};
    if (const char* own = OwnText(code)) return own;
    char buffer[256];
    // The GNU strerror_r returns the text it chose; the buffer may stay unused.
    const char* text = ::strerror_r(static_cast<int>(code), buffer, sizeof buffer);
    return text ? std::string(text) : std::string();
}

std::error_code FileErrorCode(std::uint32_t code) {
    return {static_cast<int>(code), std::generic_category()};
}

std::string FileErrorText(std::uint32_t code) {
    return code ? texts::FileErrorReason(std::error_code(static_cast<int>(code), std::generic_category()))
                : std::string();
}

} // namespace tk7v
