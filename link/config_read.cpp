#include "link/config_read.h"

#include "link/shared_file.h"

namespace tk7v {

std::optional<std::string> ReadTextOpened(const std::filesystem::path& path, std::error_code& error,
                                          std::size_t most) {
    SysError failed;
    const std::unique_ptr<SharedFile> file = SharedFile::open(path, failed, true);
    std::string text;
    if (file) failed = file->read(0, text, most);
    if (!failed) return text;
    error = FileErrorCode(failed.code);
    return std::nullopt;
}

ConfigRead ReadConfigOpened(const std::filesystem::path& path) {
    ConfigRead r;
    SysError failed;
    const std::unique_ptr<SharedFile> file = SharedFile::open(path, failed, true);
    if (!file) {
        r.error = FileErrorCode(failed.code);
        if (r.error == std::errc::no_such_file_or_directory) return r;
        // The words for a folder or a device, as for one found by a look.
        if (r.error == std::errc::is_a_directory) r.error = std::make_error_code(std::errc::is_a_directory);
        if (r.error == std::errc::no_such_device) r.error = std::make_error_code(std::errc::invalid_argument);
        r.status = ConfigRead::Status::WrongSize;
        return r;
    }
    r.status = ConfigRead::Status::WrongSize;
    std::string bytes;
    if (const SysError e = file->size(r.size); e) {
        r.size = 0;
        r.error = FileErrorCode(e.code);
        r.status = ConfigRead::Status::ReadFailed;
        return r;
    }
    if (r.size != kConfigFileSize) return r;
    if (const SysError e = file->read(0, bytes, kConfigFileSize + 1); e || bytes.size() != kConfigFileSize) {
        r.error = e ? FileErrorCode(e.code) : std::make_error_code(std::errc::io_error);
        r.status = ConfigRead::Status::ReadFailed;
        return r;
    }
    r.contents.assign(bytes.begin(), bytes.end());
    r.status = ConfigRead::Status::Loaded;
    return r;
}

} // namespace tk7v
