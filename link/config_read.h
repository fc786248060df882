#pragma once
// A configuration file read for a program that names the file: what it is decided on the file
// opened, never on a look before the open, which another program could change in between (a
// configuration swapped for a pipe would hold the read for ever, or a link for another file).
#include "model/config_file.h"

#include <filesystem>
#include <optional>
#include <string>

namespace tk7v {

// As ReadConfigFile reads it, with its statuses and errors, but opened without waiting and never
// through a link that others could have placed.
ConfigRead ReadConfigOpened(const std::filesystem::path& path);

// A text file (a values table, a file of settings as JSON), at most `most` bytes, opened as
// ReadConfigOpened opens one; none with `error`, the system's reason (ENOENT and the like, ENODEV
// for a device or a pipe, EISDIR for a folder).
std::optional<std::string> ReadTextOpened(const std::filesystem::path& path, std::error_code& error,
                                          std::size_t most = std::size_t(64) << 20);

} // namespace tk7v
