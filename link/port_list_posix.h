#pragma once
// The Linux scan behind ListPorts, for its tests.
#include <string>
#include <vector>

namespace tk7v {

// Serial devices with hardware behind them (ttyS whose UART type is known, ttyUSB, ttyACM and
// the like) and tty* symlinks under devDir that point to pseudo-terminals (virtual ports such as
// a simulator's or socat's). Names without the folder, sorted.
std::vector<std::string> ScanLinuxPorts(const std::string& devDir = "/dev",
                                        const std::string& sysTtyDir = "/sys/class/tty");

} // namespace tk7v
