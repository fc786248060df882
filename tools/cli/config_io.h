#pragma once
// Configuration files for the command line: read whole, written atomically (a new file takes the
// old one's place only when complete), with the window's messages.
#include "model/parameter_image.h"

#include <optional>
#include <string>

namespace tk7v::cli {

struct FileResult {
    std::optional<ParameterImage> image; // the file's 512 bytes when it loaded
    std::string error;                   // the window's message otherwise
};

// A file of exactly 512 bytes, a plain file (never a pipe or a device, which could block).
FileResult ReadConfig(const std::string& path);

// Writes the 512 bytes to path: into a new file beside it, then renamed over it. The error
// text, or empty when written.
std::string WriteConfig(const std::string& path, const ParameterImage& image);

} // namespace tk7v::cli
