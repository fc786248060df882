#pragma once
// "[PORT]... FILE" of write and verify: the file is the last word, ports may come before it or
// as --port. A user who forgot the file and named only a port is told so, not that the port is
// missing.
#include "batch.h"

#include <optional>

namespace tk7v::cli {

// The ports, the options and the block the window would send after loading the file. The exit
// status after a message, or nullopt when all is ready.
std::optional<int> PrepareDevicesAndFile(const CLI::App& command, const DeviceOptionWords& words,
                                         std::vector<std::string> positional, std::vector<Target>& ports,
                                         DeviceOptions& options, ParameterImage& block, Progress& out);

// Each field in which the device differs from the file, a line each on the output ("PORT: NAME
// (caption): в устройстве X, в файле Y"); how many there are.
std::size_t PrintDifferences(const std::string& port, const ParameterImage& device,
                             const ParameterImage& file, Progress& out);

} // namespace tk7v::cli
