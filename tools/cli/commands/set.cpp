// set: changes fields of a configuration file by name, as a user typing into the window would.
#include "command.h"
#include "config_io.h"
#include "help.h"
#include "model/field_rules.h"

#include <memory>

namespace tk7v::cli {

Command AddSetCommand(CLI::App& program) {
    struct Options {
        std::string file, output, from;
        std::vector<std::string> assignments;
        bool noClobber = false, strict = false;
    };
    auto o = std::make_shared<Options>();
    CLI::App* app = program.add_subcommand("set", "изменить поля файла по правилам окна программы");
    app->add_option("file", o->file, "файл конфигурации (- — стандартный ввод)")->type_name("ФАЙЛ");
    app->add_option("assignments", o->assignments, "новые значения полей")->type_name("ИМЯ=ЗНАЧЕНИЕ...");
    app->add_option("-o,--output", o->output,
                    "записать в другой файл (по умолчанию — в тот же;\nпри - на входе — в стандартный вывод)")
        ->type_name("ФАЙЛ");
    app->add_option("--from", o->from, "значения полей из JSON, как его выводит show --json")
        ->type_name("JSON");
    app->add_flag("-n,--no-clobber", o->noClobber, "не заменять существующий файл");
    app->add_flag("--strict", o->strict,
                  "значение вне диапазона из подписи поля — ошибка,\nа не предупреждение");
    return {app, [app, o](Context& context) {
                if (o->file.empty()) return UsageError(*app, "не задан файл конфигурации");
                if (o->assignments.empty() && o->from.empty())
                    return UsageError(*app, "не заданы поля (ИМЯ=ЗНАЧЕНИЕ или --from)");
                Loaded loaded = LoadConfig(o->file);
                if (!loaded.image) {
                    context.out.note(loaded.error);
                    return int(kFileFailed);
                }
                std::vector<std::string> assignments;
                if (auto refused = AssignmentsFrom(o->from, *loaded.image, assignments, context.out))
                    return *refused;
                // Values from JSON come from another configuration or a program, often for many
                // files: one the field cannot hold exactly is refused, as in a table, rather than
                // stored as something else. What is typed here keeps the window's rule.
                if (!o->from.empty()) {
                    ParameterImage check = *loaded.image;
                    const auto issues = SetFields(check, assignments, true);
                    for (const FieldIssue& issue : issues)
                        context.out.note(o->from + ": " + IssueText(issue));
                    if (!issues.empty()) {
                        context.out.note(Shown(o->file, false) + " не изменён");
                        return int(kUsage);
                    }
                }
                assignments.insert(assignments.end(), o->assignments.begin(), o->assignments.end());
                bool refused = false;
                for (const FieldIssue& issue : SetFields(*loaded.image, assignments, o->strict)) {
                    const bool warning = issue.warning() && !o->strict;
                    refused = refused || !warning;
                    context.out.note((warning ? "предупреждение: " : "") + IssueText(issue));
                }
                if (refused) {
                    context.out.note(Shown(o->file, false) + " не изменён");
                    return int(kUsage);
                }
                const std::string target = o->output.empty() ? o->file : o->output;
                const Saved saved = SaveConfig(target, *loaded.image, o->noClobber);
                if (!saved.ok) {
                    context.out.note(saved.error);
                    return int(kFileFailed);
                }
                if (!saved.note.empty()) context.out.note(target + ": " + saved.note);
                return int(kOk);
            }};
}

} // namespace tk7v::cli
