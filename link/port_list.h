#pragma once
// The serial ports of this machine as the port box lists them, and the path to open for each.
// One implementation per platform (port_list_posix.cpp, port_list_win32.cpp); the filter, the
// order and the fallback they share are in port_names.h.
#include <string>
#include <vector>

namespace tk7v {

// Never empty: when no port is found, the platform's first nine names.
std::vector<std::string> ListPorts();
// Only the ports there are now, in the same order: empty when none is found (a station's tiles).
std::vector<std::string> ListPresentPorts();
// The path to open for a listed name ("/dev/ttyUSB0" for "ttyUSB0"). A path is kept as it is.
std::string PortPath(const std::string& name);

} // namespace tk7v
