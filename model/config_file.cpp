#include "model/config_file.h"

#include <algorithm>
#include <cctype>

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

} // namespace

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
