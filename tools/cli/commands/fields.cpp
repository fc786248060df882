// fields: every field of a configuration, as `set`, the values table and --from name them.
#include "command.h"

#include "model/parameter_image.h"

#include <nlohmann/json.hpp>

#include <memory>

namespace tk7v::cli {

namespace {

std::string kindName(FieldKind k) {
    switch (k) {
    case FieldKind::Check:
        return "check";
    case FieldKind::Byte:
        return "byte";
    case FieldKind::Word:
        return "word";
    case FieldKind::Item:
        return "item";
    case FieldKind::Phone:
        return "phone";
    }
    return "";
}

// What the field takes, in words.
std::string takes(const FieldSpec& f) {
    switch (f.kind) {
    case FieldKind::Check:
        return "да/нет";
    case FieldKind::Item:
        return std::string(f.items[0]) + "/" + std::string(f.items[1]);
    case FieldKind::Phone:
        return "номер, до " + std::to_string(f.limit) + " симв.";
    default:
        return f.range ? std::to_string(f.range->low) + "-" + std::to_string(f.range->high)
                       : "число, до " + std::to_string(f.limit) + " симв.";
    }
}

} // namespace

Command AddFieldsCommand(CLI::App& program) {
    auto json = std::make_shared<bool>(false);
    CLI::App* app =
        program.add_subcommand("fields", "все поля: имя, подпись, вид, диапазон, смещение и размер");
    app->add_flag("--json", *json, "список JSON");
    return {
        app, [json](Context& context) {
            if (*json) {
                nlohmann::json out = nlohmann::json::array();
                for (const FieldSpec& f : ImageLayout()) {
                    nlohmann::json j = {{"name", std::string(f.control)}, {"caption", std::string(f.caption)},
                                        {"kind", kindName(f.kind)},       {"offset", f.offset},
                                        {"size", FieldWidth(f.kind)},     {"hidden", f.hidden}};
                    if (f.range) j["range"] = {f.range->low, f.range->high};
                    if (f.kind == FieldKind::Item)
                        j["items"] = {std::string(f.items[0]), std::string(f.items[1])};
                    if (f.limit > 0) j["limit"] = f.limit;
                    out.push_back(std::move(j));
                }
                context.out.print(out.dump(2));
                return int(kOk);
            }
            // Tab-separated, the name first: a shell takes the names with `cut -f1`.
            for (const FieldSpec& f : ImageLayout())
                context.out.print(std::string(f.control) + "\t" + std::string(f.caption) + "\t" +
                                  kindName(f.kind) + "\t" + takes(f) + "\t" + std::to_string(f.offset) +
                                  "\t" + std::to_string(FieldWidth(f.kind)) + (f.hidden ? "\tскрытое" : ""));
            return int(kOk);
        }};
}

} // namespace tk7v::cli
