// ports: the port list as the window shows it; with --probe, where a ТК-7В answers.
#include "batch.h"
#include "command.h"
#include "help.h"
#include "link/port_list.h"

#include <algorithm>
#include <memory>

namespace tk7v::cli {

Command AddPortsCommand(CLI::App& program) {
    struct Options {
        bool probe = false;
        DeviceOptionWords device;
    };
    auto o = std::make_shared<Options>();
    CLI::App* app = program.add_subcommand("ports", "список портов, как его показывает окно программы");
    app->add_flag("--probe", o->probe, "опросить все порты сразу: где отвечает ТК-7В (посылает RESET)");
    o->device.add(app);
    return {app, [app, o](Context& context) {
                const std::vector<std::string> names = ListPorts();
                if (!o->probe) {
                    for (const auto& n : names)
                        context.out.print(n);
                    return int(kOk);
                }
                DeviceOptions options;
                if (const std::string refused = o->device.resolve(options); !refused.empty())
                    return UsageError(*app, refused);
                // Links to one device are asked once; anything that is no port not at all.
                std::vector<Target> ports;
                for (const auto& n : names) {
                    const Targets one = ResolvePorts({n});
                    if (!one.error.empty()) continue;
                    const std::string& device = one.ports[0].device;
                    if (std::none_of(ports.begin(), ports.end(),
                                     [&](const Target& t) { return t.device == device; }))
                        ports.push_back(one.ports[0]);
                }
                // A list may hold ports where nothing answers: a short wait unless told otherwise.
                if (!o->device.timeoutGiven()) options.timeout = std::chrono::milliseconds(1500);
                Progress quiet(Streams::Standard(), true);
                const int status = RunOnDevices(
                    ports, options, quiet, [](PortJob& j) { return j.identify(); },
                    [&context](PortJob& j, PortJob::Result r) {
                        context.out.print(
                            j.port() + (r == PortJob::Result::Done ? "  ТК-7В: " + j.identification() : ""));
                        return DeviceEnd{{}, kOk, false};
                    });
                return status > kFileFailed ? status : int(kOk);
            }};
}

} // namespace tk7v::cli
