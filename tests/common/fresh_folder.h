#pragma once
// A temporary folder no one had before. A name made of the process's number alone can be one an
// earlier run left behind (it stopped before cleaning up, and this process now has its number),
// and that run's files, or another user's folder, would then be this test's.
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace tk7v::test {

inline std::filesystem::path FreshFolder(const std::string& prefix) {
    std::string path = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (!::mkdtemp(path.data())) throw std::runtime_error("mkdtemp " + path);
    return path;
}

} // namespace tk7v::test
