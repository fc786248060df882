// diff: the fields in which two configuration files differ.
#include "command.h"
#include "config_io.h"
#include "help.h"
#include "model/field_rules.h"

#include <nlohmann/json.hpp>

#include <memory>

namespace tk7v::cli {

Command AddDiffCommand(CLI::App& program) {
    struct Options {
        std::string first, second;
        bool json = false;
    };
    auto o = std::make_shared<Options>();
    CLI::App* app = program.add_subcommand("diff", "поля, которыми различаются два файла");
    app->add_option("file1", o->first, "первый файл (- — стандартный ввод)")->type_name("ФАЙЛ1");
    app->add_option("file2", o->second, "второй файл")->type_name("ФАЙЛ2");
    app->add_flag("--json", o->json, "список JSON");
    return {app, [app, o](Context& context) {
                if (o->second.empty()) return UsageError(*app, "нужны два файла конфигурации");
                if (o->first == kStandardStream && o->second == kStandardStream)
                    return UsageError(*app, "стандартный ввод (-) может быть только одним из файлов");
                const Loaded a = LoadConfig(o->first);
                const Loaded b = a.image ? LoadConfig(o->second) : Loaded{};
                if (!a.image || !b.image) {
                    context.out.note(a.image ? b.error : a.error);
                    return int(kFileFailed);
                }
                const auto diffs = DiffFields(*a.image, *b.image);
                if (o->json) {
                    nlohmann::json out = nlohmann::json::array();
                    for (const Difference& d : diffs)
                        out.push_back({{"field", d.name},
                                       {"caption", d.caption},
                                       {"first", d.first},
                                       {"second", d.second}});
                    context.out.print(out.dump(2));
                } else {
                    const auto shown = [](const std::string& v) {
                        return v.empty() ? std::string("(пусто)") : v;
                    };
                    for (const Difference& d : diffs)
                        context.out.print(d.name + (d.caption.empty() ? "" : " (" + d.caption + ")") +
                                          ": в первом " + shown(d.first) + ", во втором " + shown(d.second));
                }
                return int(diffs.empty() ? kOk : kDeviceFailed);
            }};
}

} // namespace tk7v::cli
