#include "link/port_list.h"

#include "link/port_list_posix.h"
#include "link/port_names.h"

#include <filesystem>
#include <fstream>
#include <set>

namespace tk7v {

namespace fs = std::filesystem;

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

std::vector<std::string> ListPorts() {
    return PortListOrFallback(ScanLinuxPorts(), "ttyS", true);
}

std::vector<std::string> ListPresentPorts() {
    return OrderPortNames(ScanLinuxPorts());
}

std::string PortPath(const std::string& name) {
    return name.starts_with('/') ? name : "/dev/" + name;
}

} // namespace tk7v
