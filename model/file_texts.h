#pragma once
// The texts of saving and loading configuration files, UTF-8, byte for byte as the installer
// knows them. The window and the command line both use them.
#include <cstdint>
#include <string>

namespace tk7v::texts {

inline constexpr const char* kOpenFailed = "Ошибка открытия файла";
inline constexpr const char* kWriteFailed = "Ошибка записи в файл";
inline constexpr const char* kSaved = "Файл успешно записан.";
inline constexpr const char* kNotFoundStatus = "Файл не найден.";
inline constexpr const char* kNotFound = "Файл не найден";
inline constexpr const char* kWrongSizeStatus = "Файл не загружен: неверный размер.";
inline constexpr const char* kReadFailedStatus = "Файл не загружен: ошибка чтения.";
inline constexpr const char* kReadFailed = "Ошибка чтения из файла";
inline constexpr const char* kLoaded = "Файл успешно прочитан.";
inline constexpr const char* kJpegRemark = "JPEG - хорошо, а PNG - лучше!";
inline constexpr const char* kReplaceQuestion = "Заменить существующий файл ";

// "Неверный размер файла настроек: N байт."
inline std::string WrongSizeText(std::uint64_t size) {
    return "Неверный размер файла настроек: " + std::to_string(size) + " байт.";
}

} // namespace tk7v::texts
