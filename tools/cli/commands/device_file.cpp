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
                                         std::vector<std::string> positional, DevicesAndFiles& ready,
                                         Progress& out) {
    if (positional.empty()) return UsageError(command, "не задан файл конфигурации");
    const std::string file = positional.back();
    positional.pop_back();
    if (positional.empty() && words.ports({}).empty()) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(Utf8Path(file), ec) && namesAPort(file))
            return UsageError(command, "не задан файл конфигурации (" + file + " — это порт)");
    }
    if (auto refused = PrepareDevices(command, words, positional, ready.ports, ready.options)) return refused;
    if (file.find("{port}") == std::string::npos) {
        ready.files.assign(ready.ports.size(), file);
    } else {
        Outputs named = OutputNames(file, ready.ports);
        if (!named.error.empty()) return UsageError(command, named.error);
        ready.files = std::move(named.names);
    }
    for (std::size_t i = 0; i < ready.files.size(); ++i) {
        if (i > 0 && ready.files[i] == ready.files[0]) {
            ready.blocks.push_back(ready.blocks[0]); // standard input is read once
            continue;
        }
        const Loaded loaded = LoadConfig(ready.files[i]);
        if (!loaded.image) {
            out.note(loaded.error);
            return int(kFileFailed);
        }
        ready.blocks.push_back(AsTheWindowBuildsIt(*loaded.image));
    }
    return std::nullopt;
}

void AddDevicesAndFileArguments(CLI::App& command, std::vector<std::string>& words) {
    command
        .add_option("args", words,
                    "порты (или --port) и файл конфигурации (- — стандартный ввод;\n"
                    "{port} в имени выбирает файл для каждого порта)")
        ->type_name("[ПОРТ]... ФАЙЛ");
}

std::size_t IndexOf(const std::vector<Target>& ports, const PortJob& job) {
    std::size_t i = 0;
    while (i + 1 < ports.size() && ports[i].name != job.port())
        ++i;
    return i;
}

std::vector<std::string> PrintDifferences(const std::string& port, const ParameterImage& device,
                                          const ParameterImage& file, Progress& out) {
    const auto shown = [](const std::string& v) { return v.empty() ? std::string("(пусто)") : v; };
    std::vector<std::string> names;
    for (const Difference& d : DiffFields(device, file)) {
        out.print(port + ": " + d.name + (d.caption.empty() ? "" : " (" + d.caption + ")") +
                  ": в устройстве " + shown(d.first) + ", в файле " + shown(d.second));
        names.push_back(d.name);
    }
    return names;
}

} // namespace tk7v::cli
