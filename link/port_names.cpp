#include "link/port_names.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>

namespace tk7v {

namespace fs = std::filesystem;

std::optional<std::string> AcceptWindowsPortName(std::string_view dosName) {
    if (dosName.size() < 4 || dosName.size() > 6) return std::nullopt;
    std::string upper(dosName);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return std::toupper(c); });
    if (upper.compare(0, 3, "COM") != 0 || !std::isdigit(static_cast<unsigned char>(upper[3])))
        return std::nullopt;
    return upper;
}

std::vector<std::string> OrderPortNames(std::vector<std::string> names) {
    if (names.empty()) return names;
    const auto [shortest, longest] =
        std::minmax_element(names.begin(), names.end(),
                            [](const std::string& a, const std::string& b) { return a.size() < b.size(); });
    if (shortest->size() < longest->size()) {
        std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
            return a.size() != b.size() ? a.size() < b.size() : a < b;
        });
    }
    return names;
}

std::vector<std::string> PortListOrFallback(std::vector<std::string> found, std::string_view prefix,
                                            bool zeroBased) {
    found = OrderPortNames(std::move(found));
    if (found.empty()) {
        for (int i = 0; i < 9; ++i)
            found.push_back(std::string(prefix) + std::to_string(zeroBased ? i : i + 1));
    }
    return found;
}

int SelectPortIndex(int saved, std::size_t count) {
    return saved >= 0 && static_cast<std::size_t>(saved) < count ? saved : 0;
}

std::vector<std::string> WindowsPortList(const std::vector<std::string>& dosNames) {
    std::vector<std::string> found;
    for (const std::string& name : dosNames)
        if (auto accepted = AcceptWindowsPortName(name)) found.push_back(*accepted);
    return PortListOrFallback(std::move(found), "COM", false);
}

namespace {

bool isHardwarePort(const fs::path& sysEntry, const std::string& name) {
    std::error_code ec;
    if (!fs::exists(sysEntry / "device", ec)) return false;
    // Most machines declare many ttyS ports whether or not a UART sits behind them; the serial
    // core reports type 0 for those.
    if (name.rfind("ttyS", 0) == 0) {
        std::ifstream type(sysEntry / "type");
        int t = 0;
        if (!(type >> t) || t == 0) return false;
    }
    return true;
}

} // namespace

std::vector<std::string> ScanLinuxPorts(const std::string& devDir, const std::string& sysTtyDir) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(sysTtyDir, ec)) {
        const std::string name = entry.path().filename().string();
        if (isHardwarePort(entry.path(), name) && fs::exists(fs::path(devDir) / name, ec)) names.insert(name);
    }
    for (const auto& entry : fs::directory_iterator(devDir, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("tty", 0) != 0 || !entry.is_symlink(ec)) continue;
        const fs::path target = fs::canonical(entry.path(), ec);
        if (!ec && target.string().rfind("/dev/pts/", 0) == 0) names.insert(name);
    }
    return {names.begin(), names.end()};
}

std::vector<std::string> LinuxPortList() {
    return PortListOrFallback(ScanLinuxPorts(), "ttyS", true);
}

std::string LinuxPortPath(const std::string& name) {
    return "/dev/" + name;
}

} // namespace tk7v
