#include "config_io.h"
#include "link/config_read.h"

#include "command.h"
#include "link/console.h"
#include "model/config_file.h"
#include "model/file_texts.h"
#include "station/config_json.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

namespace tk7v::cli {

namespace {

// Standard input read to its end; more than a file's size only needs counting.
std::vector<std::uint8_t> readInput(std::uint64_t& size) {
    UseBinary(StdStream::Input);
    std::vector<std::uint8_t> bytes;
    size = 0;
    std::uint8_t buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;) {
        size += n;
        if (bytes.size() <= kConfigFileSize) bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
}

} // namespace

std::string NotAFile(const std::string& name) {
    if (name == kStandardStream) return {};
    std::error_code ec;
    const auto status = std::filesystem::status(Utf8Path(name), ec);
    if (ec || !std::filesystem::exists(status) || std::filesystem::is_regular_file(status)) return {};
    if (std::filesystem::is_directory(status)) return name + " — это папка";
    return name + " — это не файл, а устройство или канал";
}

namespace {

// ": the reason", for a message that names the file and what failed.
std::string because(const std::string& name, std::error_code error, bool writing = false) {
    if (!error) return {};
    // A file marked read-only, refused for writing, says so rather than "access denied".
    std::error_code ec;
    const auto perms = std::filesystem::status(Utf8Path(name), ec).permissions();
    const auto writable = std::filesystem::perms::owner_write | std::filesystem::perms::group_write |
                          std::filesystem::perms::others_write;
    if (writing && !ec && error == std::errc::permission_denied &&
        std::filesystem::exists(Utf8Path(name), ec) && (perms & writable) == std::filesystem::perms::none)
        return ": файл только для чтения";
    return ": " + texts::FileErrorReason(error);
}

} // namespace

std::optional<std::string> ReadTextFile(const std::string& name, std::string& error) {
    std::string text;
    char buffer[4096];
    if (name == kStandardStream) {
        UseBinary(StdStream::Input);
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;)
            text.append(buffer, n);
        if (!std::ferror(stdin)) return text;
        error = Shown(name, false) + ": " + texts::kReadFailed;
        return std::nullopt;
    }
    // Decided on the file opened, which is opened without waiting (a pipe would hold the open).
    std::error_code failed;
    std::optional<std::string> read = ReadTextOpened(Utf8Path(name), failed);
    if (read) return read;
    if (failed == std::errc::no_such_file_or_directory)
        error = name + ": " + texts::kNotFound;
    else if (failed == std::errc::is_a_directory)
        error = name + " — это папка";
    else if (failed == std::errc::no_such_device)
        error = name + " — это не файл, а устройство или канал";
    else
        error = name + ": " + texts::kOpenFailed + because(name, failed);
    return std::nullopt;
}

std::string Shown(const std::string& name, bool output) {
    if (name != kStandardStream) return name;
    return output ? "стандартный вывод" : "стандартный ввод";
}

Loaded LoadConfig(const std::string& name) {
    ParameterImage image;
    image.fill(0xFF);
    if (name == kStandardStream) {
        std::uint64_t size = 0;
        const std::vector<std::uint8_t> bytes = readInput(size);
        if (std::ferror(stdin)) return {std::nullopt, Shown(name, false) + ": " + texts::kReadFailed};
        if (size != kConfigFileSize || !TakeConfigFile(bytes, image))
            return {std::nullopt, Shown(name, false) + ": " + texts::WrongSizeWantedText(size)};
        return {image, {}};
    }
    const ConfigRead read = ReadConfigOpened(Utf8Path(name));
    if (read.status == ConfigRead::Status::WrongSize && read.error == std::errc::is_a_directory)
        return {std::nullopt, name + " — это папка"};
    if (read.status == ConfigRead::Status::WrongSize && read.error == std::errc::invalid_argument)
        return {std::nullopt, name + " — это не файл, а устройство или канал"};
    if (read.status != ConfigRead::Status::Loaded || !TakeConfigFile(read.contents, image))
        return {std::nullopt, name + ": " + ReadProblemText(read)};
    return {image, {}};
}

Saved SaveConfig(const std::string& name, const ParameterImage& image, bool noClobber) {
    if (name == kStandardStream) {
        UseBinary(StdStream::Output);
        const bool ok = std::fwrite(image.data(), 1, image.size(), stdout) == image.size() &&
                        std::fflush(stdout) == 0 && !std::ferror(stdout);
        if (!ok) return {false, Shown(name, true) + ": " + texts::kWriteFailed, {}};
        return {true, {}, {}};
    }
    if (std::string why = NotAFile(name); !why.empty()) return {false, why, {}};
    const SaveResult r = SaveConfigFile(Utf8Path(name), image, {.replace = !noClobber});
    switch (r.status) {
    case SaveResult::Status::Written:
        break;
    case SaveResult::Status::Exists:
        return {false, name + ": файл уже есть, а -n (--no-clobber) не даёт его заменить", {}};
    case SaveResult::Status::OpenFailed:
        return {false, name + ": " + texts::kOpenFailed + because(name, r.error, true), {}};
    case SaveResult::Status::WriteFailed:
        return {false, name + ": " + texts::kWriteFailed + because(name, r.error, true), {}};
    }
    const std::string backup = BackupPathFor(name);
    switch (r.backup) {
    case SaveResult::Backup::None:
        break;
    case SaveResult::Backup::Made:
        return {true, {}, "прежний файл сохранён как " + backup};
    case SaveResult::Backup::Earlier:
        return {true, {}, "прежний файл заменён (" + backup + " уже был и не тронут)"};
    case SaveResult::Backup::Failed:
        return {true, {}, "прежний файл заменён, копию " + backup + " сделать не удалось"};
    }
    return {true, {}, {}};
}

std::optional<int> AssignmentsFrom(const std::string& path, const ParameterImage& current,
                                   std::vector<std::string>& assignments, Progress& out) {
    if (path.empty()) return std::nullopt;
    std::string error;
    const std::optional<std::string> text = ReadTextFile(path, error);
    if (!text) {
        out.note(error);
        return int(kFileFailed);
    }
    const station::JsonAssignments a = station::AssignmentsFromJson(*text, current);
    if (!a.error.empty()) {
        out.note(Shown(path, false) + ": " + a.error);
        return int(kUsage);
    }
    assignments = a.assignments;
    return std::nullopt;
}

} // namespace tk7v::cli
