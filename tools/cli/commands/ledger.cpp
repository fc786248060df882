// ledger show: what a ledger (a file, or a server's) has given out, and to which device: a table
// for people, or JSON for programs.
#include "command.h"
#include "config_io.h"
#include "help.h"
#include "model/field_rules.h"
#include "station/report.h"
#include "station/shown_text.h"

#include <array>
#include <cmath>
#include <optional>
#include <memory>
#include <nlohmann/json.hpp>

namespace tk7v::cli {


Command AddLedgerCommand(CLI::App& program) {
    struct Options {
        std::string where, field, timeout = "5", to, list;
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
    CLI::App* import = app->add_subcommand("import", "перенести учёт из файла на сервер, со всеми выданными номерами");
    import->add_option("ФАЙЛ", o->where, "файл учёта или отчёта (.csv, .jsonl)")->required();
    import->add_option("--to", o->to, "сервер postgresql://…")->type_name("АДРЕС")->required();
    import->add_option("--list", o->list,
                       "имя файла списка, чьи строки выдала прежняя версия (они названы в учёте только номером)")
        ->type_name("ИМЯ");
    import->add_option("--timeout", o->timeout, "сколько ждать ответа сервера, с (5)")->type_name("С");
    import->footer("Пример:\n  tk7v-cli ledger import \"Учёт номеров ТК-7В.csv\" --to postgresql://станция@сервер/учёт\n\n"
                   "Выданное на сервере раньше остаётся как есть; прерванный перенос можно повторить.");
    return {app, [show, import, o](Context& context) {
                CLI::App& command = import->parsed() ? *import : *show;
                char* end = nullptr;
                const double seconds = std::strtod(o->timeout.c_str(), &end);
                if (!end || *end || !std::isfinite(seconds) || seconds < 0.1 || seconds > 3600)
                    return UsageError(command, "--timeout: ожидается число секунд от 0.1 до 3600");
                const auto timeout = std::chrono::milliseconds(std::lround(seconds * 1000));
                if (import->parsed()) {
                    station::ImportCount count;
                    std::vector<std::size_t> passedOver;
                    std::string error;
                    const auto read = station::ImportLedger(o->where, o->to, o->list, timeout, count, passedOver, error);
                    if (!passedOver.empty()) context.out.note(station::PassedOverText(o->where, passedOver));
                    if (read == station::LedgerRead::NotALedger) return UsageError(*import, error);
                    const std::string moved = "Перенесено записей: " + std::to_string(count.records) +
                                              ", выданных значений: " + std::to_string(count.values) +
                                              (count.already ? ", уже были на сервере: " + std::to_string(count.already)
                                                             : std::string()) +
                                              ".";
                    if (read != station::LedgerRead::Read) {
                        context.out.note(error);
                        if (count.records) context.out.note(moved + " Повторите перенос: уже перенесённое не удвоится.");
                        return int(read == station::LedgerRead::FileFailed ? kFileFailed : kDeviceFailed);
                    }
                    context.out.print(moved);
                    return int(kOk);
                }
                // The values are read as they come and never held all at once: a table is read
                // twice, first for its columns' widths, then to print it.
                const auto cells = [&](const station::GivenValue& v) {
                    const station::LedgerEntry& c = v.claim;
                    const std::string what = v.field.empty()
                                                 ? "строка списка" + (v.list.empty() ? "" : " " + v.list)
                                                 : ShownName(v.field) + " (" + v.field + ")";
                    // A cell with a line break or a tab would break the table's lines and columns.
                    const auto cell = [](const std::string& text) {
                        return text.empty() ? "—" : station::ControlsEscaped(text);
                    };
                    return std::array<std::string, 7>{
                        station::ControlsEscaped(what), std::to_string(v.value), cell(c.identification),
                        station::ControlsEscaped(c.port), cell(c.station), station::ControlsEscaped(c.when),
                        station::ControlsEscaped(v.result)};
                };
                const std::array<std::string, 7> headings{"Поле",    "Значение", "Устройство", "Порт",
                                                          "Станция", "Выдано",   "Итог"};
                std::array<std::size_t, 7> widths{};
                const auto widen = [&](const std::array<std::string, 7>& row) {
                    for (std::size_t c = 0; c < row.size(); ++c)
                        widths[c] = std::max(widths[c], Utf8Characters(row[c]));
                };
                const auto line = [&](const std::array<std::string, 7>& row) {
                    std::string text;
                    for (std::size_t c = 0; c < row.size(); ++c) {
                        text += row[c];
                        if (c + 1 < row.size()) text += std::string(widths[c] - Utf8Characters(row[c]) + 2, ' ');
                    }
                    context.out.print(text);
                };
                std::size_t shown = 0;
                std::optional<std::string> held; // a JSON item, printed with its comma once the next comes
                const auto print = [&](const station::GivenValue& v) {
                    if (!o->field.empty() && v.field != o->field) return;
                    if (!o->json) {
                        if (shown++ == 0) line(headings);
                        line(cells(v));
                        return;
                    }
                    if (held) context.out.print(*held + ",");
                    else context.out.print("[");
                    const nlohmann::json item = {{"field", v.field},
                                                 {"list", v.list},
                                                 {"value", v.value},
                                                 {"identification", v.claim.identification},
                                                 {"port", v.claim.port},
                                                 {"station", v.claim.station},
                                                 {"given", v.claim.when},
                                                 {"result", v.result}};
                    // As the whole list would be printed at once: each item indented within it.
                    held = "  ";
                    for (const char c : item.dump(2, ' ', false, nlohmann::json::error_handler_t::replace))
                        *held += c == '\n' ? std::string("\n  ") : std::string(1, c);
                    ++shown;
                };
                std::vector<std::size_t> passedOver;
                std::string error;
                auto read = station::LedgerRead::Read;
                if (!o->json) {
                    widen(headings);
                    read = station::ReadGivenValues(
                        o->where, timeout,
                        [&](const station::GivenValue& v) {
                            if (o->field.empty() || v.field == o->field) widen(cells(v));
                        },
                        passedOver, error);
                    passedOver.clear();
                }
                if (read == station::LedgerRead::Read)
                    read = station::ReadGivenValues(o->where, timeout, print, passedOver, error);
                if (read == station::LedgerRead::NotALedger) return UsageError(*show, error);
                if (read != station::LedgerRead::Read) {
                    context.out.note(error);
                    return int(read == station::LedgerRead::FileFailed ? kFileFailed : kDeviceFailed);
                }
                // Said apart from the list: a program reading the JSON gets the list alone.
                if (!passedOver.empty()) context.out.note(station::PassedOverText(o->where, passedOver));
                if (o->json) {
                    context.out.print(held ? *held + "\n]" : "[]");
                } else if (shown == 0) {
                    context.out.note(o->field.empty() ? "Ничего не выдано."
                                                      : "Номера поля " + o->field + " не выдавались.");
                }
                return int(kOk);
            }};
}

} // namespace tk7v::cli
