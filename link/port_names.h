#pragma once
// The list of serial ports offered to the user: which names count, their order, the fallback
// when none is found and which entry is selected. Pure functions, shared by every platform.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tk7v {

// Windows device names: "COM" in any case, a digit fourth, at most 6 characters; upper-cased.
std::optional<std::string> AcceptWindowsPortName(std::string_view dosName);

// The natural order of port names, the one every list and grid of ports follows: a run of digits
// counts by its value (COM2 before COM10, ttyUSB2 before ttyUSB10, usb-FTDI_A9 before
// usb-FTDI_A10), everything else byte by byte (ttyACM0, ttyS0, ttyUSB0). Names that differ only
// in leading zeros (COM01, COM1) fall back to byte order, so no two different names tie.
bool PortNameLess(std::string_view a, std::string_view b);

// The names in natural order.
std::vector<std::string> OrderPortNames(std::vector<std::string> names);

// The names found, in natural order; when none were found, prefix + 1..9 (COM1..COM9) or, with
// zeroBased, prefix + 0..8 (ttyS0..ttyS8).
std::vector<std::string> PortListOrFallback(std::vector<std::string> found, std::string_view prefix,
                                            bool zeroBased);

// The saved index when it names an entry, else the first entry.
int SelectPortIndex(int saved, std::size_t count);

// The Windows list from the system's DOS device names (which come in no useful order).
std::vector<std::string> WindowsPortList(const std::vector<std::string>& dosNames);

} // namespace tk7v
