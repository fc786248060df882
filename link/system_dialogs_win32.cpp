#include "link/system_dialogs.h"

#include "link/serial_port_win32.h"
#include "link/wide_text_win32.h"

#include <cstdio>
#include <cwchar>
#include <string>
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

// The wide-character calls: the program may be installed under a name (a folder in Russian, say)
// that the ANSI code page cannot spell.
std::optional<std::string> VersionResourceValue(const std::string& path, const std::string& name) {
    const std::wstring file = WideFrom(CP_UTF8, path);
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0) return "UNKNOWN";
    std::vector<char> info(size);
    if (!::GetFileVersionInfoW(file.c_str(), 0, size, info.data())) return "UNKNOWN";
    struct Translation {
        WORD language, codePage;
    };
    Translation* t = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&t),
                          &length) ||
        length < sizeof(Translation))
        return std::string();
    wchar_t block[64];
    std::swprintf(block, sizeof block / sizeof *block, L"\\StringFileInfo\\%04X%04X\\", t->language,
                  t->codePage);
    wchar_t* value = nullptr;
    if (!::VerQueryValueW(info.data(), (block + WideFrom(CP_UTF8, name)).c_str(),
                          reinterpret_cast<void**>(&value), &length) ||
        !value)
        return std::string();
    return Utf8FromWide(value);
}

} // namespace tk7v
