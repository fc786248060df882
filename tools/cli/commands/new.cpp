// new: a configuration file with the window's start-up values.
#include "command.h"
#include "config_io.h"
#include "help.h"
#include "model/field_rules.h"

#include <memory>

namespace tk7v::cli {

Command AddNewCommand(CLI::App& program) {
    struct Options {
        std::string output, from;
        bool noClobber = false;
    };
    auto o = std::make_shared<Options>();
    CLI::App* app = program.add_subcommand("new", "файл с начальными значениями окна программы");
    app->add_option("-o,--output", o->output, "файл (- — стандартный вывод)")->type_name("ФАЙЛ");
    app->add_option("--from", o->from, "значения полей из JSON, как его выводит show --json")
        ->type_name("JSON");
    app->add_flag("-n,--no-clobber", o->noClobber, "не заменять существующий файл");
    return {app, [app, o](Context& context) {
                if (o->output.empty()) return UsageError(*app, "не задан файл (-o ФАЙЛ)");
                ParameterImage image = StartupImage();
                std::vector<std::string> assignments;
                if (auto refused = AssignmentsFrom(o->from, image, assignments, context.out)) return *refused;
                for (const FieldIssue& issue : SetFields(image, assignments, true)) {
                    context.out.note(IssueText(issue));
                    context.out.note(Shown(o->output, true) + " не создан");
                    return int(kUsage);
                }
                const Saved saved = SaveConfig(o->output, image, o->noClobber);
                if (!saved.ok) {
                    context.out.note(saved.error);
                    return int(kFileFailed);
                }
                if (!saved.note.empty()) context.out.note(o->output + ": " + saved.note);
                return int(kOk);
            }};
}

} // namespace tk7v::cli
