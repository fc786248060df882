#pragma once
// A configuration file is the parameter image byte for byte: exactly 512 bytes, no header. The
// rules for reading and replacing such files live here, so the window and the command line keep
// the same ones; the front ends add only their dialogs and messages.
#include "model/parameter_image.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace tk7v {

inline constexpr std::size_t kConfigFileSize = kImageSize;

// Takes the parameter stretch (bytes 0..237) of a file's contents into the image. A file of any
// other size than 512 bytes is refused and the image is left untouched; no byte is validated.
bool TakeConfigFile(std::span<const std::uint8_t> contents, ParameterImage& image);

// File names travel as UTF-8 text. A path made from it names the same file on every system (on
// Windows through the wide-character name, never the ANSI code page).
std::filesystem::path Utf8Path(std::string_view utf8);
std::string PathUtf8(const std::filesystem::path& path);

// A configuration file read whole. Only a plain file is opened: a pipe or a device could keep
// the reader waiting for ever, so anything else counts as a file whose size cannot be found.
struct ConfigRead {
    enum class Status { Loaded, NotFound, WrongSize, ReadFailed };
    Status status = Status::NotFound;
    std::uint64_t size = 0;             // as found; 0 when the file could not be opened or sized
    std::vector<std::uint8_t> contents; // the 512 bytes when loaded
    std::error_code error;              // why it could not be found, opened or read, where known
};
ConfigRead ReadConfigFile(const std::filesystem::path& path);
// The window's words for a failed read: "Файл не найден", the wrong size, the read error.
std::string ReadFailureText(const ConfigRead& read);
// A failed read in the words of a program that names the file before them (the command line,
// the station): a file that could not be opened says why rather than "0 байт", a folder or a
// device says what it is, a wrong size says the size wanted, and the system's reason follows.
std::string ReadProblemText(const ConfigRead& read);

// Writing a file, maybe over an existing one. A replaced file is first copied to its backup
// name, unless a file of that name exists (an earlier backup is never overwritten). The new
// bytes go into a file beside the old one that takes its name only when complete; where no such
// file can be made (a folder the user may not write, holding a file the user may), the file is
// rewritten in place and, should that fail, its old bytes are put back. So the chosen name holds
// either the old content or the new, whatever fails on the way.
struct SaveRules {
    bool replace = true;    // false: an existing file is left as it is (Exists)
    bool keepBackup = true; // the replaced file is copied to BackupPathFor(path) first
};
struct SaveResult {
    enum class Status { Written, Exists, OpenFailed, WriteFailed };
    // What became of a replaced file's content besides: copied to the backup name, not copied
    // because a backup was there already, or not copied at all (the folder is not writable).
    enum class Backup { None, Made, Earlier, Failed };
    Status status = Status::Written;
    bool replaced = false; // a file of that name was there before
    Backup backup = Backup::None;
    std::error_code error; // why it could not be opened or written, where known
};
SaveResult SaveConfigFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                          SaveRules rules = {});

// Where a replaced file is kept: same folder, its name without the last extension, then ".BAK".
// Paths use '/' as the separator, and on Windows '\\' too.
std::string BackupPathFor(const std::string& path);

// The picture extensions a load remarks on, compared without regard to case.
enum class PictureExtension { None, Jpeg, Png };
PictureExtension PictureExtensionOf(const std::string& path);

} // namespace tk7v
