// ports: the port list as the window shows it; with --probe, where a ТК-7В answers.
#include "batch.h"
#include "command.h"
#include "help.h"
#include "link/port_list.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>

namespace tk7v::cli {

Command AddPortsCommand(CLI::App& program) {
    struct Options {
        bool probe = false, json = false;
        DeviceOptionWords device;
    };
    auto o = std::make_shared<Options>();
    CLI::App* app = program.add_subcommand("ports", "список портов, как его показывает окно программы");
    app->add_flag("--probe", o->probe, "опросить все порты сразу: где отвечает ТК-7В (посылает RESET)");
    app->add_flag("--json", o->json, "список JSON: имя и путь порта (с --probe — и строка опознания)");
    o->device.add(app);
    return {app, [app, o](Context& context) {
                const std::vector<std::string> names = ListPorts();
                if (!o->probe) {
                    nlohmann::json list = nlohmann::json::array();
                    for (const auto& n : names) {
                        if (o->json)
                            list.push_back({{"name", n}, {"path", PortPath(n)}});
                        else
                            context.out.print(n);
                    }
                    if (o->json) context.out.print(list.dump(2));
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
                // The answers come as the ports finish; they are shown in the list's order.
                std::mutex listed;
                std::map<std::string, nlohmann::json> answers;
                const int status = RunOnDevices(
                    ports, options, quiet, [](PortJob& j) { return j.identify(); },
                    [&](PortJob& j, PortJob::Result r) {
                        const bool answered = r == PortJob::Result::Done;
                        std::lock_guard lock(listed);
                        answers[j.port()] = {{"name", j.port()},
                                             {"path", PortPath(j.port())},
                                             {"tk7v", answered},
                                             {"identification", answered ? j.identification() : ""}};
                        return DeviceEnd{{}, kOk, false};
                    });
                nlohmann::json list = nlohmann::json::array();
                for (const Target& t : ports) {
                    const auto answer = answers.find(t.name);
                    if (answer == answers.end()) continue; // interrupted before it was asked
                    const nlohmann::json& a = answer->second;
                    if (o->json)
                        list.push_back(a);
                    else
                        context.out.print(t.name +
                                          (a.at("tk7v").get<bool>()
                                               ? "  ТК-7В: " + a.at("identification").get<std::string>()
                                               : ""));
                }
                if (o->json) context.out.print(list.dump(2));
                return status > kFileFailed ? status : int(kOk);
            }};
}

} // namespace tk7v::cli
