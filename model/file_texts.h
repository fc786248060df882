#pragma once
// The texts of saving and loading configuration files, UTF-8, byte for byte as the installer
// knows them. The window and the command line both use them.
#include <cstdint>
#include <string>
#include <system_error>

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

// The same for a program that names the file before it and may not assume the reader knows the
// size wanted: "Неверный размер файла настроек: N байт (нужно 512)."
inline std::string WrongSizeWantedText(std::uint64_t size) {
    return "Неверный размер файла настроек: " + std::to_string(size) + " байт (нужно 512).";
}

// Why a file could not be opened, read or written, in the words of the reasons an installer
// meets (a missing folder, a full disk, a read-only file, …); any other reason as the system
// words it.
inline std::string FileErrorReason(std::error_code ec) {
    using E = std::errc;
    const struct {
        E condition;
        const char* text;
    } known[] = {
        {E::no_such_file_or_directory, "нет такой папки или файла"},
        {E::no_space_on_device, "на диске нет места"},
        {E::file_too_large, "файл не помещается (превышен допустимый размер)"},
        {E::read_only_file_system, "диск доступен только для чтения"},
        {E::permission_denied, "доступ запрещён"},
        {E::operation_not_permitted, "доступ запрещён"},
        {E::filename_too_long, "слишком длинное имя"},
        {E::not_a_directory, "часть пути — не папка"},
        {E::is_a_directory, "это папка"},
        {E::no_such_device, "это не файл, а устройство или канал"},
        {E::too_many_symbolic_link_levels,
         "это ссылка в папке, куда могут писать другие, или ссылка по кругу"},
        {E::device_or_resource_busy, "файл занят другой программой"},
        {E::io_error, "ошибка ввода-вывода (диск неисправен или отключён)"},
    };
    for (const auto& k : known)
        if (ec == k.condition) return k.text;
    return ec.message();
}

} // namespace tk7v::texts
