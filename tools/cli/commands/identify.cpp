// identify: connect and show each device's identification line.
#include "batch.h"
#include "command.h"

#include <memory>

namespace tk7v::cli {

Command AddIdentifyCommand(CLI::App& program) {
    struct Options {
        std::vector<std::string> ports;
        DeviceOptionWords device;
    };
    auto o = std::make_shared<Options>();
    CLI::App* app = program.add_subcommand("identify", "подключиться, показать строку опознания устройства");
    app->add_option("port", o->ports, "порт: имя из списка (ttyUSB0, COM3) или путь")->type_name("[ПОРТ]...");
    o->device.add(app);
    return {app, [app, o](Context& context) {
                std::vector<Target> ports;
                DeviceOptions options;
                if (auto refused = PrepareDevices(*app, o->device, o->ports, ports, options)) return *refused;
                return RunOnDevices(
                    ports, options, context.out, [](PortJob& j) { return j.identify(); },
                    [](PortJob& j, PortJob::Result r) {
                        if (r != PortJob::Result::Done) return FailedEnd(j, r, false);
                        return DeviceEnd{j.identification(), kOk, false};
                    });
            }};
}

} // namespace tk7v::cli
