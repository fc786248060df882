// ledger show: what a ledger (a file, or a server's) has given out, and to which device: a table
// for people, or JSON for programs.
#include "command.h"
#include "config_io.h"
#include "help.h"
#include "model/field_rules.h"
#include "station/report.h"
#include "station/shown_text.h"

#include <cmath>
#include <memory>
#include <nlohmann/json.hpp>

namespace tk7v::cli {

namespace {

// Columns padded to their widest cell, in characters rather than bytes.
std::vector<std::string> Aligned(const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> widths;
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c) {
            if (widths.size() <= c) widths.push_back(0);
            widths[c] = std::max(widths[c], Utf8Characters(row[c]));
        }
    std::vector<std::string> lines;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size()) line += std::string(widths[c] - Utf8Characters(row[c]) + 2, ' ');
        }
        lines.push_back(line);
    }
    return lines;
}

} // namespace

Command AddLedgerCommand(CLI::App& program) {
    struct Options {
        std::string where, field, timeout = "5";
        bool json = false;
    };
    auto o = std::make_shared<Options>();
    CLI::App* app = program.add_subcommand("ledger", "учёт выданных номеров и строк списка");
    app->require_subcommand(1);
    CLI::App* show = app->add_subcommand("show", "что выдано и какому устройству");
    show->add_option("УЧЁТ", o->where, "файл учёта или отчёта (.csv, .jsonl) или сервер postgresql://…")
        ->required();
    show->add_option("--field", o->field, "только номера этого поля (например TS_object_id)")
        ->type_name("ПОЛЕ");
    show->add_flag("--json", o->json, "список JSON");
    show->add_option("--timeout", o->timeout, "сколько ждать ответа сервера, с (5)")->type_name("С");
    show->footer("Пример:\n  tk7v-cli ledger show postgresql://станция@сервер/учёт --field TS_object_id");
    return {app, [show, o](Context& context) {
                std::vector<station::LedgerEntry> entries;
                std::vector<std::size_t> passedOver;
                std::string error;
                char* end = nullptr;
                const double seconds = std::strtod(o->timeout.c_str(), &end);
                if (!end || *end || !std::isfinite(seconds) || seconds < 0.1 || seconds > 3600)
                    return UsageError(*show, "--timeout: ожидается число секунд от 0.1 до 3600");
                const auto read = station::ReadLedgerEntries(
                    o->where, std::chrono::milliseconds(std::lround(seconds * 1000)),
                    [&](std::string& why) { return ReadTextFile(o->where, why); }, entries, passedOver,
                    error);
                if (read == station::LedgerRead::NotALedger) return UsageError(*show, error);
                if (read != station::LedgerRead::Read) {
                    context.out.note(error);
                    return int(read == station::LedgerRead::FileFailed ? kFileFailed : kDeviceFailed);
                }
                // Said before the list, and apart from it: a program reading the JSON gets the list
                // alone.
                if (!passedOver.empty()) context.out.note(station::PassedOverText(o->where, passedOver));
                nlohmann::json list = nlohmann::json::array();
                std::vector<std::vector<std::string>> rows{
                    {"Поле", "Значение", "Устройство", "Порт", "Станция", "Выдано", "Итог"}};
                for (const station::GivenValue& v : station::GivenValues(entries)) {
                    if (!o->field.empty() && v.field != o->field) continue;
                    const station::LedgerEntry& c = v.claim;
                    if (o->json) {
                        list.push_back({{"field", v.field},
                                        {"list", v.list},
                                        {"value", v.value},
                                        {"identification", c.identification},
                                        {"port", c.port},
                                        {"station", c.station},
                                        {"given", c.when},
                                        {"result", v.result}});
                        continue;
                    }
                    const std::string what = v.field.empty()
                                                 ? "строка списка" + (v.list.empty() ? "" : " " + v.list)
                                                 : ShownName(v.field) + " (" + v.field + ")";
                    // A cell with a line break or a tab would break the table's lines and columns.
                    const auto cell = [](const std::string& text) {
                        return text.empty() ? "—" : station::ControlsEscaped(text);
                    };
                    rows.push_back({station::ControlsEscaped(what), std::to_string(v.value),
                                    cell(c.identification), station::ControlsEscaped(c.port), cell(c.station),
                                    station::ControlsEscaped(c.when), station::ControlsEscaped(v.result)});
                }
                if (o->json) {
                    context.out.print(list.dump(2, ' ', false, nlohmann::json::error_handler_t::replace));
                } else if (rows.size() == 1) {
                    context.out.note(o->field.empty() ? "Ничего не выдано."
                                                      : "Номера поля " + o->field + " не выдавались.");
                } else {
                    for (const std::string& line : Aligned(rows))
                        context.out.print(line);
                }
                return int(kOk);
            }};
}

} // namespace tk7v::cli
