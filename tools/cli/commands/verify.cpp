// verify: compares every device named with a configuration file, by field.
#include "command.h"
#include "device_file.h"
#include "model/field_rules.h"

#include <memory>

namespace tk7v::cli {

Command AddVerifyCommand(CLI::App& program) {
    struct Options {
        std::vector<std::string> words;
        DeviceOptionWords device;
    };
    auto o = std::make_shared<Options>();
    CLI::App* app = program.add_subcommand("verify", "сравнить устройство с файлом конфигурации");
    app->add_option("args", o->words, "порты (или --port) и файл конфигурации (- — стандартный ввод)")
        ->type_name("[ПОРТ]... ФАЙЛ");
    o->device.add(app);
    return {app, [app, o](Context& context) {
                std::vector<Target> ports;
                DeviceOptions options;
                ParameterImage block;
                if (auto refused =
                        PrepareDevicesAndFile(*app, o->device, o->words, ports, options, block, context.out))
                    return *refused;
                return RunOnDevices(
                    ports, options, context.out, [&](PortJob& j) { return j.verify(block); },
                    [&](PortJob& j, PortJob::Result r) {
                        if (r == PortJob::Result::Done) return DeviceEnd{"совпадает с файлом", kOk, false};
                        if (!j.verifyFailed()) return FailedEnd(j, r, false);
                        const std::size_t n = PrintDifferences(j.port(), j.block(), block, context.out);
                        return DeviceEnd{"отличается от файла, различается полей: " + std::to_string(n),
                                         kDeviceFailed, false};
                    });
            }};
}

} // namespace tk7v::cli
