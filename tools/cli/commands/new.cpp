// new: a configuration file with the window's start-up values.
#include "command.h"
#include "config_io.h"
#include "help.h"

#include <memory>

namespace tk7v::cli {

Command AddNewCommand(CLI::App& program) {
    struct Options {
        std::string output;
        bool noClobber = false;
    };
    auto o = std::make_shared<Options>();
    CLI::App* app = program.add_subcommand("new", "файл с начальными значениями окна программы");
    app->add_option("-o,--output", o->output, "файл (- — стандартный вывод)")->type_name("ФАЙЛ");
    app->add_flag("-n,--no-clobber", o->noClobber, "не заменять существующий файл");
    return {app, [app, o](Context& context) {
                if (o->output.empty()) return UsageError(*app, "не задан файл (-o ФАЙЛ)");
                const Saved saved = SaveConfig(o->output, StartupImage(), o->noClobber);
                if (!saved.ok) {
                    context.out.note(saved.error);
                    return int(kFileFailed);
                }
                if (!saved.note.empty()) context.out.note(o->output + ": " + saved.note);
                return int(kOk);
            }};
}

} // namespace tk7v::cli
