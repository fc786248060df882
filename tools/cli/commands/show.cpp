// show: every field of a configuration file as the window would show it.
#include "command.h"
#include "config_io.h"
#include "help.h"
#include "model/field_rules.h"
#include "station/config_json.h"

#include <memory>

namespace tk7v::cli {

Command AddShowCommand(CLI::App& program) {
    struct Options {
        std::string file;
        bool json = false;
    };
    auto o = std::make_shared<Options>();
    CLI::App* app =
        program.add_subcommand("show", "все поля файла: имя, подпись, значение (скрытые отмечены)");
    app->add_option("file", o->file, "файл конфигурации (- — стандартный ввод)")->type_name("ФАЙЛ");
    app->add_flag("--json", o->json, "один объект JSON, ключи — имена полей");
    return {app, [app, o](Context& context) {
                if (o->file.empty()) return UsageError(*app, "не задан файл конфигурации");
                const Loaded loaded = LoadConfig(o->file);
                if (!loaded.image) {
                    context.out.note(loaded.error);
                    return int(kFileFailed);
                }
                const auto fields = ViewFields(*loaded.image);
                if (!o->json) {
                    for (const FieldView& v : fields)
                        context.out.print(std::string(v.field->control) + " (" +
                                          std::string(v.field->caption) + ")" +
                                          (v.field->hidden ? " [скрытое]" : "") + ": " + v.text);
                    return int(kOk);
                }
                context.out.print(station::ConfigJson(*loaded.image));
                return int(kOk);
            }};
}

} // namespace tk7v::cli
