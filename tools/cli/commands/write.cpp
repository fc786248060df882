// write: a configuration file into every device named, as the window would send it after loading
// that file, then each device read back and compared (unless --no-verify). Per-device values come
// from a table; --loop makes a programming station of it.
#include "command.h"
#include "config_io.h"
#include "device_file.h"
#include "help.h"
#include "link/user_folders.h"
#include "model/config_file.h"
#include "model/field_rules.h"
#include "station/plan.h"
#include "station/run_session.h"

#include <filesystem>
#include <memory>

namespace tk7v::cli {

Command AddWriteCommand(CLI::App& program) {
    struct Options {
        std::vector<std::string> words;
        bool verify = false, noVerify = false, loop = false, strict = false, sameValues = false;
        std::string values, number, ledger;
        ReportOption report;
        DeviceOptionWords device;
        LabelOptions labels;
    };
    auto o = std::make_shared<Options>();
    CLI::App* app = program.add_subcommand("write", "записать файл конфигурации в устройство и проверить");
    AddDevicesAndFileArguments(*app, o->words);
    app->add_flag("--verify", o->verify, "прочитать записанное обратно и сравнить (так и без него)");
    app->add_flag("--no-verify", o->noVerify, "не читать записанное обратно");
    app->add_option("--values", o->values,
                    "таблица CSV: столбцы полей и столбец port, строка на порт;\n"
                    "без столбца port — список: каждому устройству следующая\n"
                    "не выданная строка; значения ложатся на файл по правилам set")
        ->type_name("ТАБЛИЦА");
    app->add_option("--number", o->number,
                    "каждому устройству следующий номер в поле: ПОЛЕ=ПЕРВЫЙ[-ПОСЛЕДНИЙ]\n"
                    "(например TS_object_id=101-150); выданное хранит отчёт")
        ->type_name("ПОЛЕ=ДИАПАЗОН");
    app->add_flag("--same-values", o->sameValues,
                  "с --loop и таблицей по портам: всем устройствам порта одни значения");
    // Kept for scripts written when values outside a range were only warned of: they are refused
    // now whatever it says, since a device would get another value than the table's.
    app->add_flag("--strict", o->strict, "(так всегда) значение, которое поле не вмещает точно, — ошибка");
    app->add_option("--ledger", o->ledger,
                    "учёт выданных строк и номеров: ФАЙЛ.csv, ФАЙЛ.jsonl или сервер\n"
                    "PostgreSQL postgresql://ПОЛЬЗОВАТЕЛЬ@УЗЕЛ/БАЗА (пароль — из\n"
                    "~/.pgpass или PGPASSWORD); без него — тот же учёт, что у окна\n"
                    "станции: «Учёт номеров ТК-7В.csv» в папке документов, при\n"
                    "первом запуске начатый с отчёта --report и отчётов станции рядом")
        ->type_name("ФАЙЛ|АДРЕС");
    app->add_flag("--loop", o->loop,
                  "станция: на каждом порту ждать устройство, записать, проверить,\n"
                  "ждать, пока его отключат, и так до Ctrl+C");
    o->report.add(app);
    o->labels.add(app);
    o->device.add(app);
    app->footer("Пример: станция на двух портах раздаёт номера объектов 101-150 и телефоны из\n"
                "списка (таблица без столбца port); учёт в документах хранит выданное, и после\n"
                "перезапуска, с отчётом следующего дня, нумерация продолжается:\n"
                "  tk7v-cli write объект.cfg --port ttyUSB0 --port ttyUSB1 --loop \\\n"
                "      --values телефоны.csv --number TS_object_id=101-150 --report отчёт.jsonl");
    return {app, [app, o](Context& context) {
                if (o->verify && o->noVerify) return UsageError(*app, "--verify и --no-verify вместе");
                // A label stands for a block read back and proven: a write not read back has none.
                if (o->noVerify && o->labels.wanted())
                    return UsageError(*app, "--no-verify и наклейки вместе: наклейка — только проверенному устройству");
                DevicesAndFiles ready;
                if (auto refused = PrepareDevicesAndFile(*app, o->device, o->words, ready, context.out))
                    return *refused;
                station::PlanRequest request;
                for (const Target& t : ready.ports)
                    request.ports.push_back(t.name);
                request.images = ready.blocks;
                if (!o->values.empty()) {
                    std::string error;
                    const std::optional<std::string> text = ReadTextFile(o->values, error);
                    if (!text) {
                        context.out.note(error);
                        return int(kFileFailed);
                    }
                    request.valuesName = o->values;
                    request.valuesText = *text;
                }
                request.number = o->number;
                request.loop = o->loop;
                request.sameValues = o->sameValues;
                request.report = o->report.path;
                // One ledger for every day, the station window's: a day's report as the ledger
                // would give the next day's devices the same numbers again.
                const bool ownLedger = o->ledger.empty() && (!o->number.empty() || !o->values.empty());
                request.ledger = ownLedger ? station::DefaultLedger() : o->ledger;
                request.samePort = [](const std::string& inTable, const std::string& port) {
                    const Targets a = ResolvePorts({inTable}), b = ResolvePorts({port});
                    return a.error.empty() && b.error.empty() && a.ports[0].device == b.ports[0].device;
                };
                const station::CheckedPlan checked = station::CheckPlan(request);
                if (checked.refused()) {
                    const station::PlanIssue& last = checked.issues.back();
                    for (std::size_t i = 0; i + 1 < checked.issues.size(); ++i)
                        context.out.note(checked.issues[i].text);
                    if (last.usage && checked.issues.size() == 1) return UsageError(*app, last.text);
                    context.out.note(last.text);
                    return int(last.usage ? kUsage : kFileFailed);
                }
                for (const station::PlanIssue& warning : checked.issues)
                    context.out.note(warning.text);
                station::Plan plan = *checked.plan;
                if (ownLedger && !plan.numbered()) plan.ledger = plan.report;
                ready.blocks = plan.images;
                // A server's address names no file here, so it passes.
                for (const std::string& file : {plan.report, plan.ledger})
                    if (const std::string why = NotAFile(file); !why.empty()) {
                        context.out.note(why);
                        return int(kFileFailed);
                    }
                if (ownLedger && plan.numbered()) {
                    std::error_code ignored; // a folder that cannot be made is told by the open
                    std::filesystem::create_directories(Utf8Path(plan.ledger).parent_path(), ignored);
                }
                LabelMaker labels;
                if (const std::string refused = o->labels.prepare(labels); !refused.empty())
                    return UsageError(*app, refused);
                station::RunSession session;
                station::SessionProblem problem;
                station::RunSession::Options sessionOptions;
                sessionOptions.timeout = ready.options.timeout;
                // Nothing is kept between two runs of this program but in files: records a
                // server has not taken wait in the user's data for the next run on that server.
                if (const std::filesystem::path data = UserDataFolder(); !data.empty())
                    sessionOptions.waitingFolder = data / "tk7v";
                if (!session.open(plan, sessionOptions, problem)) {
                    if (problem.kind == station::SessionProblem::Kind::Address)
                        return UsageError(*app, "--ledger: " + problem.text);
                    context.out.note(problem.text);
                    return int(kFileFailed);
                }
                const bool verify = !o->noVerify;
                const auto work = [&](PortJob& j) {
                    return j.write(ready.blocks[IndexOf(ready.ports, j)], verify);
                };
                const auto words = [&](PortJob& j, PortJob::Result r) {
                    const std::size_t i = IndexOf(ready.ports, j);
                    if (j.verifyFailed()) PrintDifferences(j.port(), j.block(), j.written(), context.out);
                    return station::WriteEnd(j, r, verify, ready.files[i]);
                };
                if (const std::size_t earlier = session.takenOver()) {
                    station::LockWait wait;
                    wait.limit = ready.options.timeout;
                    const std::string failed = session.ledger()->flushRecords(wait);
                    context.out.note(failed.empty()
                                         ? "Записи прошлого запуска переданы на сервер учёта номеров: " +
                                               std::to_string(earlier) + "."
                                         : "Записи прошлого запуска (" + std::to_string(earlier) +
                                               ") ещё не переданы на сервер учёта номеров: " + failed);
                }
                const ReportTo to = session.reportTo("write", false, o->loop);
                const int status =
                    o->loop ? RunStation(ready.ports, ready.options, context.out, work, words, to, labels)
                            : RunOnDevices(ready.ports, ready.options, context.out, work, words, to, labels);
                if (const std::string passedOver = session.passedOverText(); !passedOver.empty())
                    context.out.note(passedOver);
                if (const std::size_t waiting = session.serverWaiting()) {
                    std::filesystem::path file;
                    if (const std::string failed = session.keepWaiting(file);
                        !failed.empty() || file.empty()) {
                        context.out.note(
                            "Записи не сохранены: " +
                            (failed.empty() ? std::string("не найдена папка данных пользователя") : failed));
                        return status == kOk ? int(kFileFailed) : status;
                    } else {
                        context.out.note("Записи, не переданные на сервер учёта номеров (" +
                                         std::to_string(waiting) + "), сохранены в " + PathUtf8(file) +
                                         " и будут переданы при следующем запуске.");
                    }
                } else {
                    std::filesystem::path file;
                    session.keepWaiting(file); // every record stored: the file of earlier ones goes
                }
                return status;
            }};
}

} // namespace tk7v::cli
