#pragma once
// The user's own folders, where the system keeps them: the documents, which both front ends offer
// for reports and where the one ledger of every day lives unless another is chosen, and the data
// a program keeps for itself between its runs. Both front ends ask here, so they find the same
// files.
#include <filesystem>

namespace tk7v {

// The documents folder: on Linux the XDG user directory (user-dirs.dirs in $XDG_CONFIG_HOME,
// else ~/.config), else ~/Documents, as Qt finds it; on Windows the known folder Documents.
std::filesystem::path DocumentsFolder();

// Where this user's programs keep their data: $XDG_DATA_HOME, else ~/.local/share, on Linux;
// %LOCALAPPDATA% on Windows. Empty when the system names none.
std::filesystem::path UserDataFolder();

} // namespace tk7v
