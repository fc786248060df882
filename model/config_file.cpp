#include "model/config_file.h"

#include "model/file_texts.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <random>

namespace tk7v {

namespace {

// A backslash separates folders only on Windows; elsewhere it may be part of a file name.
#ifdef _WIN32
constexpr const char* kSeparators = "/\\";
#else
constexpr const char* kSeparators = "/";
#endif

// Index of the dot that starts the last extension of the file name, or npos.
std::size_t extensionDot(const std::string& path) {
    const std::size_t separator = path.find_last_of(kSeparators);
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (separator != std::string::npos && dot < separator))
        return std::string::npos;
    return dot;
}

namespace fs = std::filesystem;

// The reason the C library gave for the call that just failed (the streams open and write
// through it).
std::error_code lastError() {
    return {errno ? errno : EIO, std::generic_category()};
}

// Writes the bytes over the start of the open stream and checks that all of them arrived.
bool putAt0(std::fstream& file, std::span<const std::uint8_t> bytes) {
    file.clear();
    file.seekp(0);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    file.flush();
    return file.good();
}

// Rewrites an existing file where no file can be made beside it.
SaveResult::Status rewriteInPlace(const fs::path& path, std::span<const std::uint8_t> bytes,
                                  std::error_code& error) {
    // Unbuffered: a write cut short (a full disk) fails there and then. A buffer would still hold
    // the rest of the new bytes, refuse the seek back and keep the old ones from going back in.
    std::fstream file;
    file.rdbuf()->pubsetbuf(nullptr, 0);
    errno = 0;
    file.open(path, std::ios::in | std::ios::out | std::ios::binary);
    if (!file) {
        error = lastError();
        return SaveResult::Status::OpenFailed;
    }
    const std::vector<std::uint8_t> old{std::istreambuf_iterator<char>(file),
                                        std::istreambuf_iterator<char>()};
    std::error_code ec;
    errno = 0;
    bool ok = putAt0(file, bytes);
    if (!ok) error = lastError();
    if (ok && old.size() > bytes.size()) {
        fs::resize_file(path, bytes.size(), ec);
        ok = !ec;
        error = ec;
    }
    if (ok) return SaveResult::Status::Written;
    putAt0(file, old);
    fs::resize_file(path, old.size(), ec);
    return SaveResult::Status::WriteFailed;
}

// A name beside the file that nothing uses yet.
fs::path temporaryBeside(const fs::path& path) {
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        fs::path candidate = path;
        candidate += ".";
        candidate += std::to_string(random() % 1000000);
        candidate += ".tmp";
        std::error_code ec;
        if (!fs::exists(candidate, ec) && !ec) return candidate;
    }
    return {};
}

// Writes a file of that name afresh: open, write, close, every step checked.
enum class Fresh { Written, OpenFailed, WriteFailed };
Fresh writeFresh(const fs::path& path, std::span<const std::uint8_t> bytes, std::error_code& error) {
    errno = 0;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        error = lastError();
        return Fresh::OpenFailed;
    }
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        error = lastError();
        std::error_code ec;
        fs::remove(path, ec);
        return Fresh::WriteFailed;
    }
    return Fresh::Written;
}

// Puts the bytes under the name: into a file beside it that then takes the name, or, where that
// cannot be, in place over an existing file or afresh.
SaveResult::Status replaceOrCreate(const fs::path& path, const fs::file_status& status, bool replaced,
                                   std::span<const std::uint8_t> bytes, std::error_code& error) {
    using Status = SaveResult::Status;
    std::error_code ec;
    const fs::path temporary = temporaryBeside(path);
    switch (temporary.empty() ? Fresh::OpenFailed : writeFresh(temporary, bytes, error)) {
    case Fresh::Written:
        if (replaced) fs::permissions(temporary, status.permissions(), ec);
        fs::rename(temporary, path, error);
        if (!error) return Status::Written;
        fs::remove(temporary, ec);
        // A folder that lets the user make files but not rename over another user's (a shared
        // folder with the sticky bit): the file itself may be written, so it is, in place.
        if (!replaced) return Status::WriteFailed;
        break;
    case Fresh::WriteFailed:
        return Status::WriteFailed;
    case Fresh::OpenFailed:
        break;
    }
    error.clear();
    if (replaced) return rewriteInPlace(path, bytes, error);
    // Nothing was there: a file cut short is removed, which leaves the name as it was.
    switch (writeFresh(path, bytes, error)) {
    case Fresh::Written:
        return Status::Written;
    case Fresh::OpenFailed:
        return Status::OpenFailed;
    case Fresh::WriteFailed:
        break;
    }
    return Status::WriteFailed;
}

} // namespace

fs::path Utf8Path(std::string_view utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string PathUtf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

ConfigRead ReadConfigFile(const fs::path& path) {
    ConfigRead r;
    std::error_code ec;
    const auto status = fs::status(path, ec);
    if (ec || !fs::exists(status)) {
        r.error = ec ? ec : std::make_error_code(std::errc::no_such_file_or_directory);
        return r;
    }
    r.status = ConfigRead::Status::WrongSize;
    if (!fs::is_regular_file(status)) {
        r.error = std::make_error_code(fs::is_directory(status) ? std::errc::is_a_directory
                                                                : std::errc::invalid_argument);
        return r;
    }
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        r.error = lastError();
        return r;
    }
    r.size = fs::file_size(path, ec);
    if (ec) r.size = 0;
    if (r.size != kConfigFileSize) return r;
    r.contents.resize(kConfigFileSize);
    if (!in.read(reinterpret_cast<char*>(r.contents.data()), static_cast<std::streamsize>(kConfigFileSize))) {
        r.error = lastError();
        r.contents.clear();
        r.status = ConfigRead::Status::ReadFailed;
        return r;
    }
    r.status = ConfigRead::Status::Loaded;
    return r;
}

std::string ReadFailureText(const ConfigRead& read) {
    switch (read.status) {
    case ConfigRead::Status::Loaded:
        return {};
    case ConfigRead::Status::NotFound:
        return texts::kNotFound;
    case ConfigRead::Status::WrongSize:
        return texts::WrongSizeText(read.size);
    case ConfigRead::Status::ReadFailed:
        break;
    }
    return texts::kReadFailed;
}

std::string ReadProblemText(const ConfigRead& read) {
    using S = ConfigRead::Status;
    const auto reason = [&] {
        return read.error ? ": " + texts::FileErrorReason(read.error) : std::string();
    };
    switch (read.status) {
    case S::Loaded:
        return {};
    case S::NotFound:
        // "Файл не найден" says it all, unless a part of the path is the reason.
        return read.error == std::errc::no_such_file_or_directory ? texts::kNotFound
                                                                  : texts::kNotFound + reason();
    case S::WrongSize:
        if (read.error == std::errc::is_a_directory) return "это папка, а не файл конфигурации";
        if (read.error == std::errc::invalid_argument) return "это не файл, а устройство или канал";
        if (read.error) return texts::kOpenFailed + reason();
        return texts::WrongSizeWantedText(read.size);
    case S::ReadFailed:
        break;
    }
    return texts::kReadFailed + reason();
}

SaveResult SaveConfigFile(const fs::path& chosen, std::span<const std::uint8_t> bytes, SaveRules rules) {
    using Status = SaveResult::Status;
    SaveResult result;
    std::error_code ec;
    // Through a symbolic link the file it names is replaced, not the link.
    const fs::path path =
        fs::is_symlink(fs::symlink_status(chosen, ec)) ? fs::weakly_canonical(chosen, ec) : chosen;
    const auto status = fs::status(path, ec);
    result.replaced = fs::exists(status);
    if (result.replaced && !rules.replace) return {Status::Exists, true, SaveResult::Backup::None, {}};
    // A pipe, a device or a folder is no configuration to replace (and copying a pipe would
    // wait for a writer for ever).
    if (result.replaced && !fs::is_regular_file(status))
        return {Status::OpenFailed, true, SaveResult::Backup::None,
                std::make_error_code(fs::is_directory(status) ? std::errc::is_a_directory
                                                              : std::errc::invalid_argument)};
    // The new bytes reach the name by a rename, which asks only the folder: a file the user may
    // not write (marked read-only to protect a prepared configuration, or another user's) is
    // refused here, before anything is made, as a file that does not open for writing is.
    // Opened for reading and writing, nothing in it changes.
    errno = 0;
    if (result.replaced && !std::fstream(path, std::ios::in | std::ios::out | std::ios::binary))
        return {Status::OpenFailed, true, SaveResult::Backup::None, lastError()};
    if (result.replaced && rules.keepBackup) {
        const fs::path backup = Utf8Path(BackupPathFor(PathUtf8(chosen)));
        // Copied, not renamed: should the write below fail, the old content is still under its
        // own name. A copy cut short is no backup and goes.
        result.backup = SaveResult::Backup::Earlier;
        if (!fs::exists(backup, ec) && !ec) {
            result.backup = fs::copy_file(path, backup, ec) && !ec ? SaveResult::Backup::Made
                                                                   : SaveResult::Backup::Failed;
            if (ec && ec != std::errc::file_exists) fs::remove(backup, ec);
        }
    }
    result.status = replaceOrCreate(path, status, result.replaced, bytes, result.error);
    // A backup made for a save that did not happen would only stand for a replacement that
    // never was.
    if (result.status != Status::Written && result.backup == SaveResult::Backup::Made) {
        fs::remove(Utf8Path(BackupPathFor(PathUtf8(chosen))), ec);
        result.backup = SaveResult::Backup::None;
    }
    return result;
}

bool TakeConfigFile(std::span<const std::uint8_t> contents, ParameterImage& image) {
    if (contents.size() != kConfigFileSize) return false;
    std::copy_n(contents.begin(), kParameterLength, image.begin());
    return true;
}

std::string BackupPathFor(const std::string& path) {
    const std::size_t dot = extensionDot(path);
    return (dot == std::string::npos ? path : path.substr(0, dot)) + ".BAK";
}

PictureExtension PictureExtensionOf(const std::string& path) {
    const std::size_t dot = extensionDot(path);
    if (dot == std::string::npos) return PictureExtension::None;
    std::string ext = path.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::toupper(c); });
    if (ext == ".JPG" || ext == ".JPEG") return PictureExtension::Jpeg;
    if (ext == ".PNG") return PictureExtension::Png;
    return PictureExtension::None;
}

} // namespace tk7v
