// label: a device's label again, from its record in a ledger or a report: a label lost, spoilt
// or never printed (a printer that was off).
#include "command.h"
#include "help.h"
#include "labels/label.h"
#include "labels_out.h"
#include "model/config_file.h"
#include "station/ledger.h"

#include <cmath>
#include <memory>
#include <optional>

namespace tk7v::cli {

Command AddLabelCommand(CLI::App& program) {
    struct Options {
        std::string where, field{labels::kNumberField}, timeout = "5";
        long long number = 0;
        LabelOptions labels;
    };
    auto o = std::make_shared<Options>();
    CLI::App* app = program.add_subcommand("label", "наклейка устройства ещё раз, по записи учёта");
    app->add_option("УЧЁТ", o->where, "файл учёта или отчёта (.csv, .jsonl) или сервер postgresql://…")
        ->required();
    app->add_option("--number", o->number, "номер устройства")->type_name("N")->required();
    app->add_option("--field", o->field, "поле номера (TS_object_id)")->type_name("ПОЛЕ");
    app->add_option("--timeout", o->timeout, "сколько ждать ответа сервера, с (5)")->type_name("С");
    o->labels.add(app);
    app->footer("Пример:\n  tk7v-cli label \"Учёт номеров ТК-7В.csv\" --number 705 --printer Этикетки\n\n"
                "Учёт хранит номер, выданные значения и SHA-256 записанного блока, но не сам блок:\n"
                "на такой наклейке нет полей, выбранных для наклеек станции.");
    return {app, [app, o](Context& context) {
                if (!o->labels.wanted()) return UsageError(*app, "нужен --label ПАПКА или --printer ПРИНТЕР");
                if (!o->labels.fields.empty())
                    return UsageError(*app, "--label-field: учёт не хранит блок устройства, только выданное");
                char* end = nullptr;
                const double seconds = std::strtod(o->timeout.c_str(), &end);
                if (!end || *end || !std::isfinite(seconds) || seconds < 0.1 || seconds > 3600)
                    return UsageError(*app, "--timeout: ожидается число секунд от 0.1 до 3600");
                const std::string given = o->field + "=" + std::to_string(o->number);
                // The device's last record that wrote and proved it: a later one (written again)
                // is what it holds now.
                std::optional<station::LedgerEntry> found;
                std::vector<std::size_t> passedOver;
                std::string error;
                const auto read = station::ReadLedgerEntries(
                    o->where, std::chrono::milliseconds(std::lround(seconds * 1000)),
                    [&](station::LedgerEntry&& e) {
                        if (e.result != "done" || e.sha256.empty()) return;
                        for (const std::string& n : e.given.numbers)
                            if (n == given) found = std::move(e);
                    },
                    passedOver, error);
                if (!passedOver.empty()) context.out.note(station::PassedOverText(o->where, passedOver));
                if (read == station::LedgerRead::NotALedger) return UsageError(*app, error);
                if (read != station::LedgerRead::Read) {
                    context.out.note(error);
                    return int(read == station::LedgerRead::FileFailed ? kFileFailed : kDeviceFailed);
                }
                if (!found) {
                    // A file ledger keeps only what it gave; the devices' ends are in the report.
                    context.out.note("В " + o->where + " нет записи о записанном и проверенном устройстве " + given +
                                     " (записи об устройствах хранят отчёт станции и сервер учёта).");
                    return int(kDeviceFailed);
                }
                LabelMaker unused;
                if (const std::string refused = o->labels.prepare(unused); !refused.empty())
                    return UsageError(*app, refused);
                const labels::LabelContent content = labels::LabelOfRecord(
                    std::to_string(o->number), found->sha256, found->given, found->when, found->station);
                labels::LabelSize paper;
                if (!o->labels.size.empty()) labels::ParseLabelSize(o->labels.size, paper);
                std::string failed;
                if (!o->labels.folder.empty()) {
                    const std::string name = labels::LabelFileName(content, found->port, std::chrono::system_clock::now());
                    const std::filesystem::path file = Utf8Path(o->labels.folder) / Utf8Path(name);
                    failed = labels::SaveLabelPdf(content, paper, file);
                    if (failed.empty()) context.out.print(PathUtf8(file));
                }
                if (failed.empty() && !o->labels.printer.empty()) {
                    failed = labels::PrintLabel(content, paper, o->labels.printer);
                    if (!failed.empty()) failed = "наклейка не напечатана: " + failed;
                }
                if (!failed.empty()) {
                    context.out.note(failed);
                    return int(kFileFailed);
                }
                return int(kOk);
            }};
}

} // namespace tk7v::cli
