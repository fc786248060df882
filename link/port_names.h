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

// Shorter names first, equal lengths by byte order, unless all names have one length: then they
// keep the order they came in.
std::vector<std::string> OrderPortNames(std::vector<std::string> names);

// The names found, ordered; when none were found, prefix + 1..9 (COM1..COM9) or, with
// zeroBased, prefix + 0..8 (ttyS0..ttyS8).
std::vector<std::string> PortListOrFallback(std::vector<std::string> found, std::string_view prefix,
                                            bool zeroBased);

// The saved index when it names an entry, else the first entry.
int SelectPortIndex(int saved, std::size_t count);

// The Windows list from the system's DOS device names, in the order the system gave them.
std::vector<std::string> WindowsPortList(const std::vector<std::string>& dosNames);

} // namespace tk7v
