#include "help.h"

#include "command.h"
#include "model/field_rules.h"

#include <iostream>
#include <sstream>

namespace tk7v::cli {

namespace {

constexpr std::size_t kColumn = 28;

// "  left    description", the description starting in one column whatever the letters.
std::string row(const std::string& left, const std::string& description) {
    std::string out = "  " + left;
    const std::size_t used = 2 + Utf8Characters(left);
    if (description.empty()) return out + "\n";
    if (used + 2 > kColumn)
        out += "\n" + std::string(kColumn, ' ');
    else
        out += std::string(kColumn - used, ' ');
    // A description of several lines keeps its column.
    std::string indented;
    for (char c : description) {
        indented += c;
        if (c == '\n') indented += std::string(kColumn, ' ');
    }
    return out + indented + "\n";
}

std::string fullName(const CLI::App& app) {
    std::string name = app.get_name();
    for (const CLI::App* p = app.get_parent(); p; p = p->get_parent())
        name = p->get_name() + " " + name;
    return name;
}

class RussianHelp : public CLI::Formatter {
public:
    std::string make_option(const CLI::Option* opt, bool positional) const override {
        return row(make_option_name(opt, positional) + make_option_opts(opt), opt->get_description());
    }
    // A positional is shown by its type name, which holds what the user types ("ФАЙЛ").
    std::string make_option_name(const CLI::Option* opt, bool positional) const override {
        if (positional) return opt->get_type_name();
        std::string names;
        for (const std::string& s : opt->get_snames())
            names += (names.empty() ? "-" : ", -") + s;
        for (const std::string& l : opt->get_lnames())
            names += (names.empty() ? "--" : ", --") + l;
        return names;
    }
    std::string make_option_opts(const CLI::Option* opt) const override {
        if (opt->get_positional() || opt->get_expected_max() == 0) return {};
        return " " + opt->get_type_name();
    }
    std::string make_option_usage(const CLI::Option* opt) const override { return opt->get_type_name(); }
    std::string make_usage(const CLI::App* app, std::string) const override {
        std::string out = get_label("Usage") + ": " + fullName(*app);
        if (!app->get_options([](const CLI::Option* o) { return o->nonpositional(); }).empty())
            out += " [" + get_label("OPTIONS") + "]";
        for (const CLI::Option* p :
             app->get_options([](const CLI::Option* o) { return o->get_positional(); }))
            out += " " + make_option_usage(p);
        if (!app->get_subcommands({}).empty()) out += " " + get_label("SUBCOMMAND") + " ...";
        return out + "\n";
    }
    std::string make_description(const CLI::App* app) const override {
        const std::string d = app->get_description();
        return d.empty() ? std::string() : d + "\n";
    }
    std::string make_subcommand(const CLI::App* sub) const override {
        return row(sub->get_name(), sub->get_description());
    }
    // The examples and the note on port access belong to the program's own help only.
    std::string make_footer(const CLI::App* app) const override {
        // A command inherits the program's footer; it shows only one of its own.
        const CLI::App* parent = app->get_parent();
        if (app->get_footer().empty() || (parent && app->get_footer() == parent->get_footer())) return {};
        return app->get_footer() + "\n";
    }
};

// The option in `argv[at]` that wants a value and gets none ("-o" last, or followed by another
// option), or empty. CLI11 would only say that "1 required TEXT" is missing.
std::string optionWithoutValue(CLI::App& app, int argc, char** argv) {
    CLI::App* current = &app;
    for (int at = 1; at < argc; ++at) {
        const std::string word = argv[at];
        if (word == "--") break;
        const auto subs = current->get_subcommands([&](CLI::App* s) { return s->check_name(word); });
        if (!subs.empty()) {
            current = subs.front();
            continue;
        }
        if (word.size() < 2 || word[0] != '-' || word.find('=') != std::string::npos) continue;
        const CLI::Option* opt = current->get_option_no_throw(word);
        for (CLI::App* p = current->get_parent(); !opt && p; p = p->get_parent())
            opt = p->get_option_no_throw(word);
        if (!opt || opt->get_expected_max() == 0) continue;
        const bool last = at + 1 == argc;
        const std::string next = last ? std::string() : argv[at + 1];
        const bool value =
            !last && (next == "-" || next.size() < 2 || next[0] != '-' || (next[1] >= '0' && next[1] <= '9'));
        if (!value) return word;
        ++at;
    }
    return {};
}

// A flag written with a value CLI11 cannot take ("--json=maybe"), or empty.
std::string flagWithValue(CLI::App& app, int argc, char** argv) {
    for (int at = 1; at < argc; ++at) {
        const std::string word = argv[at];
        const std::size_t eq = word.find('=');
        if (word.size() < 2 || word[0] != '-' || eq == std::string::npos) continue;
        const std::string name = word.substr(0, eq);
        std::vector<CLI::App*> apps{&app};
        for (std::size_t i = 0; i < apps.size(); ++i)
            for (CLI::App* sub : apps[i]->get_subcommands([](CLI::App*) { return true; }))
                apps.push_back(sub);
        for (CLI::App* a : apps)
            if (const CLI::Option* opt = a->get_option_no_throw(name); opt && opt->get_expected_max() == 0)
                return word;
    }
    return {};
}

const CLI::App& chosen(const CLI::App& app) {
    const auto subs = app.get_subcommands();
    return subs.empty() ? app : chosen(*subs.front());
}

} // namespace

void UseRussianHelp(CLI::App& app) {
    auto help = std::make_shared<RussianHelp>();
    help->label("Usage", "Запуск");
    help->label("OPTIONS", "ПАРАМЕТРЫ");
    help->label("SUBCOMMAND", "КОМАНДА");
    help->label("Positionals", "Аргументы");
    app.formatter(help);
}

int UsageError(const CLI::App& command, const std::string& what) {
    std::cerr << fullName(command) << ": " << what << "\nСправка: " << fullName(command) << " --help\n";
    return kUsage;
}

std::optional<int> Parse(CLI::App& app, int argc, char** argv) {
    if (const std::string word = optionWithoutValue(app, argc, argv); !word.empty()) {
        try {
            app.parse(argc, argv); // for the command the word belongs to
        } catch (const CLI::Error&) {
        }
        return UsageError(chosen(app), "параметру " + word + " нужно значение");
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::Error&) {
        // Every check is made after parsing, in our own words; what remains is a value CLI11
        // itself could not take, such as "--json=maybe".
        const std::string word = flagWithValue(app, argc, argv);
        if (!word.empty())
            return UsageError(chosen(app),
                              "флаг " + word.substr(0, word.find('=')) + " пишется без значения: " + word);
        return UsageError(chosen(app), "командная строка не разобрана");
    }
    const std::vector<std::string> extra = app.remaining(true);
    if (app.get_subcommands().empty()) {
        if (extra.empty()) return UsageError(app, "не задана команда");
        const bool option = extra[0].size() > 1 && extra[0][0] == '-';
        return UsageError(app, (option ? "неизвестный параметр " : "неизвестная команда ") + extra[0]);
    }
    if (!extra.empty()) {
        const bool option = extra[0].size() > 1 && extra[0][0] == '-';
        return UsageError(chosen(app), (option ? "неизвестный параметр " : "лишнее слово ") + extra[0]);
    }
    return std::nullopt;
}

} // namespace tk7v::cli
