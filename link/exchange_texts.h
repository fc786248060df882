#pragma once
// The texts an exchange with the device shows, UTF-8, byte for byte as the installer knows them.
// (In "связь c устройством" the "c" is the Latin letter.)
#include <cstddef>
#include <string>

namespace tk7v::texts {

inline constexpr const char* kConnecting = "Подключение к устройству...";
inline constexpr const char* kConnected = "Установлена связь c устройством: ";
inline constexpr const char* kReading = "Чтение данных... ";
inline constexpr const char* kReadDone = "Операция чтения выполнена успешно.";
inline constexpr const char* kProcessing = "Обработка данных...";
inline constexpr const char* kWriting = "Запись данных... ";
inline constexpr const char* kWriteError = "Ошибка записи!";
inline constexpr const char* kWriteDone = "Операция записи выполнена успешно.";
inline constexpr const char* kCancelled = "Операция отменена.";
inline constexpr const char* kDisconnected = "Операция выполнена успешно.";
inline constexpr const char* kErrorPrefix = "Ошибка: ";
inline constexpr const char* kNotDone = "Операция не выполнена.";

// The share done before the read command at `address`, in whole percent.
int ReadPercent(std::size_t address);
// The share done once the write chunk of `count` bytes at `address` is written.
int WritePercent(std::size_t address, std::size_t count);
// "Чтение данных... N%" and "Запись данных... N%".
std::string ReadProgressText(std::size_t address);
std::string WriteProgressText(std::size_t address, std::size_t count);

} // namespace tk7v::texts
