#include "link/system_dialogs.h"

#include "link/serial_port_win32.h"

#include <cstdio>
#include <vector>
#include <windows.h>

namespace tk7v {

std::optional<bool> SystemPortSettingsDialog(const std::string& port, std::intptr_t owner,
                                             PortConfig& config) {
    COMMCONFIG cc{};
    cc.dwSize = sizeof cc;
    cc.wVersion = 1;
    cc.dcb = DcbFor(config, DCB{});
    cc.dwProviderSize = 2;
    // Confirmed, the system has written the choice into the record; cancelled, it is unchanged.
    if (!::CommConfigDialogA(port.c_str(), reinterpret_cast<HWND>(owner), &cc)) return false;
    config = ConfigFrom(cc.dcb, config);
    return true;
}

std::optional<std::string> VersionResourceValue(const std::string& path, const std::string& name) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0) return "UNKNOWN";
    std::vector<char> info(size);
    if (!::GetFileVersionInfoA(path.c_str(), 0, size, info.data())) return "UNKNOWN";
    struct Translation {
        WORD language, codePage;
    };
    Translation* t = nullptr;
    UINT length = 0;
    if (!::VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&t), &length) ||
        length < sizeof(Translation))
        return std::string();
    char block[64];
    std::snprintf(block, sizeof block, "\\StringFileInfo\\%04X%04X\\", t->language, t->codePage);
    char* value = nullptr;
    if (!::VerQueryValueA(info.data(), (block + name).c_str(), reinterpret_cast<void**>(&value), &length) ||
        !value)
        return std::string();
    return std::string(value);
}

} // namespace tk7v
