#pragma once
// The devices a command runs on and the files it writes for them, checked before anything is
// sent: a device named twice (under one name or two) would have two exchanges fighting over one
// port, and two devices written to one file would lose one of the results.
#include <string>
#include <vector>

namespace tk7v::cli {

struct Target {
    std::string name;   // as the user gave it
    std::string device; // what it names once links are followed
};

struct Targets {
    std::vector<Target> ports;
    std::string error; // why the ports cannot be used together; empty when they can
};
Targets ResolvePorts(const std::vector<std::string>& names);

struct Outputs {
    std::vector<std::string> names;
    std::string error;
};
// The output file of each port: `pattern` with "{port}" replaced by the port's own name (ttyUSB0
// for /dev/ttyUSB0). Refused when two ports would share a file.
Outputs OutputNames(const std::string& pattern, const std::vector<Target>& ports);

} // namespace tk7v::cli
