#include "link/system_dialogs.h"

namespace tk7v {

// Here the window brings its own settings dialog and its own version block.
std::optional<bool> SystemPortSettingsDialog(const std::string&, std::intptr_t, PortConfig&) {
    return std::nullopt;
}

std::optional<std::string> VersionResourceValue(const std::string&, const std::string&) {
    return std::nullopt;
}

} // namespace tk7v
