#include "config_io.h"

#include "command.h"
#include "link/console.h"
#include "model/config_file.h"
#include "model/file_texts.h"
#include "station/config_json.h"

#include <cstdio>
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
            return {std::nullopt, Shown(name, false) + ": " + texts::WrongSizeText(size)};
        return {image, {}};
    }
    const ConfigRead read = ReadConfigFile(Utf8Path(name));
    if (read.status != ConfigRead::Status::Loaded || !TakeConfigFile(read.contents, image))
        return {std::nullopt, name + ": " + ReadFailureText(read)};
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
    const SaveResult r = SaveConfigFile(Utf8Path(name), image, {.replace = !noClobber});
    switch (r.status) {
    case SaveResult::Status::Written:
        break;
    case SaveResult::Status::Exists:
        return {false, name + ": файл уже есть, а -n (--no-clobber) не даёт его заменить", {}};
    case SaveResult::Status::OpenFailed:
        return {false, name + ": " + texts::kOpenFailed, {}};
    case SaveResult::Status::WriteFailed:
        return {false, name + ": " + texts::kWriteFailed, {}};
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
    std::string text;
    if (path == kStandardStream) {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
        std::ifstream in(Utf8Path(path), std::ios::binary);
        if (!in) {
            out.note(path + ": Файл не найден");
            return int(kFileFailed);
        }
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const station::JsonAssignments a = station::AssignmentsFromJson(text, current);
    if (!a.error.empty()) {
        out.note(Shown(path, false) + ": " + a.error);
        return int(kUsage);
    }
    assignments = a.assignments;
    return std::nullopt;
}

} // namespace tk7v::cli
