#include "link/port_list.h"

#include "link/port_names.h"

#include <windows.h>

namespace tk7v {

namespace {

// Every MS-DOS device name, NUL-separated, closed by an extra NUL. A list that does not fit
// makes the call fail: no name then.
std::vector<std::string> dosNames() {
    std::vector<char> buffer(32768);
    std::vector<std::string> names;
    const DWORD n = ::QueryDosDeviceA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    for (DWORD i = 0; i < n && buffer[i];) {
        const std::string name(buffer.data() + i);
        names.push_back(name);
        i += static_cast<DWORD>(name.size()) + 1;
    }
    return names;
}

} // namespace

std::vector<std::string> ListPorts() {
    return WindowsPortList(dosNames());
}

std::vector<std::string> ListPresentPorts() {
    std::vector<std::string> found;
    for (const std::string& name : dosNames())
        if (auto accepted = AcceptWindowsPortName(name)) found.push_back(*accepted);
    return OrderPortNames(std::move(found));
}

std::string PortPath(const std::string& name) {
    return name.starts_with("\\\\") ? name : "\\\\.\\" + name;
}

} // namespace tk7v
