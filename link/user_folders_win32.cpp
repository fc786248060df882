#include "user_folders.h"

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

namespace tk7v {

namespace {

std::filesystem::path Known(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    std::filesystem::path found;
    if (SUCCEEDED(::SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path))) found = path;
    ::CoTaskMemFree(path);
    return found;
}

} // namespace

std::filesystem::path DocumentsFolder() {
    return Known(FOLDERID_Documents);
}

std::filesystem::path UserDataFolder() {
    return Known(FOLDERID_LocalAppData);
}

} // namespace tk7v
