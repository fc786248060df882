#pragma once
// What the operating system offers beyond the port itself: its own port settings dialog, and
// the version resource of a program file. A platform without one says so.
#include "link/port_config.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tk7v {

// The system's port settings dialog for `port` (its plain name, such as COM3), owned by the
// window whose native handle is `owner`. True when confirmed (config then holds the choice),
// false when cancelled or failed; nullopt where the system has no such dialog.
std::optional<bool> SystemPortSettingsDialog(const std::string& port, std::intptr_t owner,
                                             PortConfig& config);

// The value `name` (for example "FileVersion") of the version resource of the program file at
// `path` (UTF-8, as is the value): its first translation's string table. "UNKNOWN" when the file
// has no version information, the empty text when it lacks the table or the value; nullopt where
// the system keeps no such resource.
std::optional<std::string> VersionResourceValue(const std::string& path, const std::string& name);

} // namespace tk7v
