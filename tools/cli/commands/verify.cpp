// verify: compares every device named with a configuration file, by field.
#include "command.h"
#include "device_file.h"
#include "model/field_rules.h"

#include <memory>

namespace tk7v::cli {

Command AddVerifyCommand(CLI::App& program) {
    struct Options {
        std::vector<std::string> words;
        ReportOption report;
        DeviceOptionWords device;
    };
    auto o = std::make_shared<Options>();
    CLI::App* app = program.add_subcommand("verify", "сравнить устройство с файлом конфигурации");
    AddDevicesAndFileArguments(*app, o->words);
    o->report.add(app);
    o->device.add(app);
    return {app, [app, o](Context& context) {
                DevicesAndFiles ready;
                if (auto refused = PrepareDevicesAndFile(*app, o->device, o->words, ready, context.out))
                    return *refused;
                std::unique_ptr<Report> report;
                if (auto refused = o->report.open(report, context.out)) return *refused;
                return RunOnDevices(
                    ready.ports, ready.options, context.out,
                    [&](PortJob& j) { return j.verify(ready.blocks[IndexOf(ready.ports, j)]); },
                    [&](PortJob& j, PortJob::Result r) {
                        const std::size_t i = IndexOf(ready.ports, j);
                        DeviceEnd end;
                        if (r == PortJob::Result::Done) {
                            end = {"совпадает с файлом", kOk, false};
                        } else if (j.verifyFailed()) {
                            end.differing =
                                PrintDifferences(j.port(), j.block(), ready.blocks[i], context.out);
                            end.text = "отличается от файла, различается полей: " +
                                       std::to_string(end.differing.size());
                            end.status = kDeviceFailed;
                        } else {
                            end = FailedEnd(j, r, false);
                        }
                        end.file = ready.files[i];
                        if (r == PortJob::Result::Done || j.verifyFailed())
                            end.bytes = AsTheWindowBuildsIt(j.block());
                        return end;
                    },
                    {report.get(), "verify"});
            }};
}

} // namespace tk7v::cli
