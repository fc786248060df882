#include "user_folders.h"

#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <string>
#include <unistd.h>

namespace tk7v {

namespace {

std::filesystem::path Home() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return {};
}

std::filesystem::path FromEnvironment(const char* name, const std::filesystem::path& otherwise) {
    const char* value = std::getenv(name);
    return value && *value == '/' ? std::filesystem::path(value) : otherwise;
}

} // namespace

std::filesystem::path DocumentsFolder() {
    const std::filesystem::path home = Home();
    // Only lines like XDG_DOCUMENTS_DIR="$HOME/Документы": the file is written by xdg-user-dirs
    // for the shell, and read so by every desktop library.
    std::ifstream dirs(FromEnvironment("XDG_CONFIG_HOME", home / ".config") / "user-dirs.dirs");
    const std::string key = "XDG_DOCUMENTS_DIR=";
    for (std::string line; std::getline(dirs, line);) {
        if (line.rfind(key, 0) != 0) continue;
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.rfind("$HOME", 0) == 0) value = home.string() + value.substr(5);
        while (value.size() > 1 && value.back() == '/')
            value.pop_back();
        if (!value.empty() && value.front() == '/') return value;
    }
    return home / "Documents";
}

std::filesystem::path UserDataFolder() {
    const std::filesystem::path home = Home();
    return FromEnvironment("XDG_DATA_HOME", home.empty() ? home : home / ".local" / "share");
}

} // namespace tk7v
