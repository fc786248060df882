// read: each device's block into a configuration file, as the window saves it after a read.
#include "batch.h"
#include "command.h"
#include "config_io.h"
#include "help.h"
#include "model/config_file.h"
#include "model/field_rules.h"

#include <filesystem>
#include <memory>

namespace tk7v::cli {

Command AddReadCommand(CLI::App& program) {
    struct Options {
        std::vector<std::string> ports;
        std::string output;
        bool noClobber = false;
        DeviceOptionWords device;
    };
    auto o = std::make_shared<Options>();
    CLI::App* app = program.add_subcommand("read", "прочитать блок устройства в файл конфигурации");
    app->add_option("port", o->ports, "порт: имя из списка (ttyUSB0, COM3) или путь")->type_name("[ПОРТ]...");
    app->add_option(
           "-o,--output", o->output,
           "файл (- — стандартный вывод); при нескольких портах\n{port} в имени заменяется именем порта")
        ->type_name("ФАЙЛ");
    app->add_flag("-n,--no-clobber", o->noClobber, "не заменять существующий файл");
    o->device.add(app);
    return {app, [app, o](Context& context) {
                std::vector<Target> ports;
                DeviceOptions options;
                if (auto refused = PrepareDevices(*app, o->device, o->ports, ports, options)) return *refused;
                if (o->output.empty()) return UsageError(*app, "не задан файл (-o ФАЙЛ)");
                const Outputs files = OutputNames(o->output, ports);
                if (!files.error.empty()) return UsageError(*app, files.error);
                if (o->noClobber) {
                    for (const std::string& f : files.names) {
                        std::error_code ec;
                        if (f != kStandardStream && std::filesystem::exists(Utf8Path(f), ec)) {
                            context.out.note(f + ": файл уже есть, а -n (--no-clobber) не даёт его заменить");
                            return int(kFileFailed);
                        }
                    }
                }
                context.out.resultsToError(o->output == kStandardStream);
                return RunOnDevices(
                    ports, options, context.out, [](PortJob& j) { return j.read(); },
                    [&](PortJob& j, PortJob::Result r) {
                        if (r != PortJob::Result::Done) return FailedEnd(j, r, false);
                        std::size_t i = 0;
                        while (ports[i].name != j.port())
                            ++i;
                        const Saved saved =
                            SaveConfig(files.names[i], AsTheWindowBuildsIt(j.block()), o->noClobber);
                        if (!saved.ok)
                            return DeviceEnd{"прочитано, но не записано: " + saved.error, kFileFailed, false,
                                             true};
                        return DeviceEnd{"прочитано в " + Shown(files.names[i], true) +
                                             (saved.note.empty() ? "" : "; " + saved.note),
                                         kOk, false};
                    });
            }};
}

} // namespace tk7v::cli
