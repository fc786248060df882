#pragma once
// A configuration file is the parameter image byte for byte: exactly 512 bytes, no header.
#include "model/parameter_image.h"

#include <cstdint>
#include <span>
#include <string>

namespace tk7v {

inline constexpr std::size_t kConfigFileSize = kImageSize;

// Takes the parameter stretch (bytes 0..237) of a file's contents into the image. A file of any
// other size than 512 bytes is refused and the image is left untouched; no byte is validated.
bool TakeConfigFile(std::span<const std::uint8_t> contents, ParameterImage& image);

// Where a replaced file is kept: same folder, its name without the last extension, then ".BAK".
// Paths use '/' as the separator, and on Windows '\\' too.
std::string BackupPathFor(const std::string& path);

// The picture extensions a load remarks on, compared without regard to case.
enum class PictureExtension { None, Jpeg, Png };
PictureExtension PictureExtensionOf(const std::string& path);

} // namespace tk7v
