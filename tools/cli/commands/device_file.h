#pragma once
// "[PORT]... FILE" of write and verify: the file is the last word, ports may come before it or
// as --port. A user who forgot the file and named only a port is told so, not that the port is
// missing.
#include "batch.h"

#include <optional>

namespace tk7v::cli {

// The devices of a command and, for each, its configuration.
struct DevicesAndFiles {
    std::vector<Target> ports;
    DeviceOptions options;
    std::vector<std::string> files;     // the file of each port: {port} in the name picks one a port
    std::vector<ParameterImage> blocks; // what the window would send after loading it
};

// The "[ПОРТ]... ФАЙЛ" words of the command, into `words`.
void AddDevicesAndFileArguments(CLI::App& command, std::vector<std::string>& words);

// The exit status after a message, or nullopt when all is ready.
std::optional<int> PrepareDevicesAndFile(const CLI::App& command, const DeviceOptionWords& words,
                                         std::vector<std::string> positional, DevicesAndFiles& ready,
                                         Progress& out);

// The index of the job's port among the command's.
std::size_t IndexOf(const std::vector<Target>& ports, const PortJob& job);

// Each field in which the device differs from the file, a line each on the output ("PORT: NAME
// (caption): в устройстве X, в файле Y"); their names.
std::vector<std::string> PrintDifferences(const std::string& port, const ParameterImage& device,
                                          const ParameterImage& file, Progress& out);

} // namespace tk7v::cli
