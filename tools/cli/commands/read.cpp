// read: each device's block into a configuration file, as the window saves it after a read.
#include "batch.h"
#include "command.h"
#include "config_io.h"
#include "device_file.h"
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
        ReportOption report;
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
    o->report.add(app);
    o->device.add(app);
    return {app, [app, o](Context& context) {
                std::vector<Target> ports;
                DeviceOptions options;
                if (auto refused = PrepareDevices(*app, o->device, o->ports, ports, options)) return *refused;
                if (o->output.empty()) return UsageError(*app, "не задан файл (-o ФАЙЛ)");
                const Outputs files = OutputNames(o->output, ports);
                if (!files.error.empty()) return UsageError(*app, files.error);
                // A folder or a device where the file belongs is named before any device is read.
                for (const std::string& f : files.names) {
                    if (const std::string why = NotAFile(f); !why.empty()) {
                        context.out.note(why);
                        return int(kFileFailed);
                    }
                }
                if (o->noClobber) {
                    for (const std::string& f : files.names) {
                        std::error_code ec;
                        if (f != kStandardStream && std::filesystem::exists(Utf8Path(f), ec)) {
                            context.out.note(f + ": файл уже есть, а -n (--no-clobber) не даёт его заменить");
                            return int(kFileFailed);
                        }
                    }
                }
                std::unique_ptr<Report> report;
                if (auto refused = o->report.open(report, context.out)) return *refused;
                context.out.resultsToError(o->output == kStandardStream);
                return RunOnDevices(
                    ports, options, context.out, [](PortJob& j) { return j.read(); },
                    [&](PortJob& j, PortJob::Result r) {
                        const std::size_t i = IndexOf(ports, j);
                        if (r != PortJob::Result::Done) {
                            DeviceEnd end = FailedEnd(j, r, false);
                            end.file = files.names[i];
                            return end;
                        }
                        const ParameterImage image = AsTheWindowBuildsIt(j.block());
                        const Saved saved = SaveConfig(files.names[i], image, o->noClobber);
                        DeviceEnd end{saved.ok ? "прочитано в " + Shown(files.names[i], true) +
                                                     (saved.note.empty() ? "" : "; " + saved.note)
                                               : "прочитано, но не записано: " + saved.error,
                                      saved.ok ? int(kOk) : int(kFileFailed), false, !saved.ok};
                        end.file = files.names[i];
                        end.bytes = image;
                        return end;
                    },
                    {report.get(), "read"});
            }};
}

} // namespace tk7v::cli
