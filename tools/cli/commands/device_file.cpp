#include "device_file.h"

#include "command.h"

#include "config_io.h"
#include "help.h"
#include "link/port_list.h"
#include "model/config_file.h"
#include "model/field_rules.h"

#include <algorithm>
#include <filesystem>

namespace tk7v::cli {

namespace {

// A name the port list shows, or a path to a device (not to a file).
bool namesAPort(const std::string& word) {
    const auto listed = ListPorts();
    if (std::find(listed.begin(), listed.end(), word) != listed.end()) return true;
    std::error_code ec;
    return std::filesystem::is_character_file(Utf8Path(PortPath(word)), ec);
}

} // namespace

std::optional<int> PrepareDevicesAndFile(const CLI::App& command, const DeviceOptionWords& words,
                                         std::vector<std::string> positional, std::vector<Target>& ports,
                                         DeviceOptions& options, ParameterImage& block, Progress& out) {
    if (positional.empty()) return UsageError(command, "не задан файл конфигурации");
    const std::string file = positional.back();
    positional.pop_back();
    if (positional.empty() && words.ports({}).empty()) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(Utf8Path(file), ec) && namesAPort(file))
            return UsageError(command, "не задан файл конфигурации (" + file + " — это порт)");
    }
    if (auto refused = PrepareDevices(command, words, positional, ports, options)) return refused;
    const Loaded loaded = LoadConfig(file);
    if (!loaded.image) {
        out.note(loaded.error);
        return int(kFileFailed);
    }
    block = AsTheWindowBuildsIt(*loaded.image);
    return std::nullopt;
}

std::size_t PrintDifferences(const std::string& port, const ParameterImage& device,
                             const ParameterImage& file, Progress& out) {
    const auto shown = [](const std::string& v) { return v.empty() ? std::string("(пусто)") : v; };
    const auto diffs = DiffFields(device, file);
    for (const Difference& d : diffs)
        out.print(port + ": " + d.name + (d.caption.empty() ? "" : " (" + d.caption + ")") +
                  ": в устройстве " + shown(d.first) + ", в файле " + shown(d.second));
    return diffs.size();
}

} // namespace tk7v::cli
