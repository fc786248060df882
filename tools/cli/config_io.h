#pragma once
// Configurations named on the command line: a file, read and replaced by the same rules as the
// window's, or "-" for standard input and output. Messages name the file.
#include "model/parameter_image.h"

#include <optional>
#include <string>
#include <vector>

namespace tk7v::cli {

inline constexpr const char* kStandardStream = "-";

struct Loaded {
    std::optional<ParameterImage> image; // the parameters (bytes 0..237), the rest 0xFF
    std::string error;                   // "NAME: the window's message" otherwise
};
// A file of exactly 512 bytes, a plain file (never a pipe or a device, which could block), or
// whatever standard input holds for "-".
Loaded LoadConfig(const std::string& name);

struct Saved {
    bool ok = false;
    std::string error; // "NAME: what failed"
    std::string note;  // what became of a replaced file
};
// Writes the 512 bytes to the file, keeping a backup of a file it replaces; with `noClobber` an
// existing file is refused. "-" writes them to standard output.
Saved SaveConfig(const std::string& name, const ParameterImage& image, bool noClobber);

// The text a file name is shown with ("стандартный ввод" for "-" and the like).
std::string Shown(const std::string& name, bool output);

// Why a name given for a file names none to read or replace: "NAME — это папка", or a device or
// a pipe. Empty for a plain file, for a name nothing has yet and for "-".
std::string NotAFile(const std::string& name);

// A text file named on the command line (a values table, a JSON file), read whole; "-" reads
// standard input. Without a value, `error` says why, naming the file and the reason.
std::optional<std::string> ReadTextFile(const std::string& name, std::string& error);

class Progress;
// The assignments of the JSON file `path` ("-": standard input; empty: none), as `show --json`
// prints them. The exit status after a message, or nullopt.
std::optional<int> AssignmentsFrom(const std::string& path, const ParameterImage& current,
                                   std::vector<std::string>& assignments, Progress& out);

} // namespace tk7v::cli
