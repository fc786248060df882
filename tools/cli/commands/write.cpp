// write: a configuration file into every device named, as the window would send it after
// loading that file; --verify reads each device back and names the fields that differ.
#include "command.h"
#include "device_file.h"
#include "model/field_rules.h"

#include <memory>

namespace tk7v::cli {

Command AddWriteCommand(CLI::App& program) {
    struct Options {
        std::vector<std::string> words;
        bool verify = false;
        DeviceOptionWords device;
    };
    auto o = std::make_shared<Options>();
    CLI::App* app = program.add_subcommand("write", "записать файл конфигурации в устройство");
    app->add_option("args", o->words, "порты (или --port) и файл конфигурации (- — стандартный ввод)")
        ->type_name("[ПОРТ]... ФАЙЛ");
    app->add_flag("--verify", o->verify, "прочитать записанное обратно и сравнить");
    o->device.add(app);
    return {app, [app, o](Context& context) {
                std::vector<Target> ports;
                DeviceOptions options;
                ParameterImage block;
                if (auto refused =
                        PrepareDevicesAndFile(*app, o->device, o->words, ports, options, block, context.out))
                    return *refused;
                const bool verify = o->verify;
                return RunOnDevices(
                    ports, options, context.out, [&](PortJob& j) { return j.write(block, verify); },
                    [&](PortJob& j, PortJob::Result r) {
                        if (r == PortJob::Result::Done)
                            return DeviceEnd{verify ? "записано и проверено" : "записано", kOk, false};
                        if (j.verifyFailed()) {
                            const std::size_t n = PrintDifferences(j.port(), j.block(), block, context.out);
                            return DeviceEnd{"записано, но проверка не пройдена, различается полей: " +
                                                 std::to_string(n),
                                             kDeviceFailed, false, true};
                        }
                        // A write cut short, by a signal or a fault, may have left part of the block.
                        return FailedEnd(j, r, j.wroteSomething());
                    });
            }};
}

} // namespace tk7v::cli
