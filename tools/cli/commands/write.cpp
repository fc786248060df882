// write: a configuration file into every device named, as the window would send it after loading
// that file, then each device read back and compared (unless --no-verify). Per-device values come
// from a table; --loop makes a programming station of it.
#include "command.h"
#include "config_io.h"
#include "device_file.h"
#include "help.h"
#include "model/config_file.h"
#include "model/field_rules.h"
#include "station/numbering.h"
#include "station/values_table.h"

#include <fstream>
#include <memory>

namespace tk7v::cli {

namespace {

// The table's rows applied to `blocks` (each on a copy when `onCopies`: a list's rows are
// checked, not applied). A value refused refuses the whole run: the notes name each.
bool rowRefused(const station::ValuesRow& row, const std::string& path, ParameterImage& block, bool strict,
                Progress& out) {
    bool refused = false;
    for (const std::string& line : station::RowIssues(row, path, block, strict, refused))
        out.note(line);
    return refused;
}

std::optional<int> readTable(const std::string& path, station::ValuesTable& table, const CLI::App& app,
                             Progress& out) {
    std::string error;
    const std::optional<std::string> text = ReadTextFile(path, error);
    if (!text) {
        out.note(error);
        return int(kFileFailed);
    }
    table = station::ReadValuesTable(*text);
    if (!table.error.empty()) return UsageError(app, path + ": " + table.error);
    return std::nullopt;
}

// Applies each port's row of the table to its block. Every row is checked before anything is
// sent: a row for no port named, a port with no row, or a value refused fails the whole run.
std::optional<int> applyPortRows(const CLI::App& app, const std::string& path,
                                 const station::ValuesTable& table, DevicesAndFiles& ready, bool strict,
                                 Progress& out) {
    std::vector<bool> covered(ready.ports.size(), false);
    for (const station::ValuesRow& row : table.rows) {
        const Targets named = ResolvePorts({row.port});
        std::size_t i = 0;
        while (i < ready.ports.size() &&
               !(named.error.empty() && named.ports[0].device == ready.ports[i].device))
            ++i;
        const std::string where = path + ", строка " + std::to_string(row.row);
        if (i == ready.ports.size())
            return UsageError(app, where + ": порт " + row.port + " не указан в команде");
        if (covered[i]) return UsageError(app, where + ": второй раз порт " + row.port);
        covered[i] = true;
        if (rowRefused(row, path, ready.blocks[i], strict, out)) {
            out.note("Ни одно устройство не затронуто.");
            return int(kUsage);
        }
    }
    for (std::size_t i = 0; i < covered.size(); ++i)
        if (!covered[i]) return UsageError(app, path + ": нет строки для порта " + ready.ports[i].name);
    return std::nullopt;
}

// A list's rows, each checked on every port's configuration, since any device may take any row.
std::optional<int> checkListRows(const std::string& path, const station::ValuesTable& table,
                                 const DevicesAndFiles& ready, bool strict, Progress& out) {
    for (const station::ValuesRow& row : table.rows)
        for (ParameterImage block : ready.blocks)
            if (rowRefused(row, path, block, strict, out)) {
                out.note("Ни одно устройство не затронуто.");
                return int(kUsage);
            }
    return std::nullopt;
}

} // namespace

Command AddWriteCommand(CLI::App& program) {
    struct Options {
        std::vector<std::string> words;
        bool verify = false, noVerify = false, loop = false, strict = false, sameValues = false;
        std::string values, number;
        ReportOption report;
        DeviceOptionWords device;
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
    app->add_flag("--strict", o->strict, "значение из таблицы вне диапазона — ошибка, а не предупреждение");
    app->add_flag("--loop", o->loop,
                  "станция: на каждом порту ждать устройство, записать, проверить,\n"
                  "ждать, пока его отключат, и так до Ctrl+C");
    o->report.add(app);
    o->device.add(app);
    app->footer("Пример: станция на двух портах раздаёт номера объектов 101-150 и телефоны из\n"
                "списка (таблица без столбца port); отчёт хранит выданное, и после перезапуска или\n"
                "на второй станции с тем же отчётом нумерация продолжается:\n"
                "  tk7v-cli write объект.cfg --port ttyUSB0 --port ttyUSB1 --loop \\\n"
                "      --values телефоны.csv --number TS_object_id=101-150 --report отчёт.jsonl");
    return {app, [app, o](Context& context) {
                if (o->verify && o->noVerify) return UsageError(*app, "--verify и --no-verify вместе");
                DevicesAndFiles ready;
                if (auto refused = PrepareDevicesAndFile(*app, o->device, o->words, ready, context.out))
                    return *refused;
                station::ValuesTable table;
                if (!o->values.empty()) {
                    if (auto refused = readTable(o->values, table, *app, context.out)) return *refused;
                    if (!table.list && o->loop && !o->sameValues && o->number.empty())
                        return UsageError(*app, o->values +
                                                    ": с --loop строка порта достанется каждому устройству "
                                                    "этого порта; чтобы у каждого было своё, уберите столбец "
                                                    "port (список: каждому следующая строка) или задайте "
                                                    "--number ПОЛЕ=ПЕРВЫЙ[-ПОСЛЕДНИЙ]; если так и нужно — "
                                                    "--same-values");
                    if (auto refused =
                            table.list ? checkListRows(o->values, table, ready, o->strict, context.out)
                                       : applyPortRows(*app, o->values, table, ready, o->strict, context.out))
                        return *refused;
                    if (table.list && table.rows.empty())
                        return UsageError(*app, o->values + ": в списке нет ни одной строки");
                }
                std::optional<station::Counter> counter;
                if (!o->number.empty()) {
                    std::string error;
                    for (const ParameterImage& block : ready.blocks)
                        if (!(counter = station::ParseCounter(o->number, block, error)))
                            return UsageError(*app, error);
                }
                const station::Numbering numbering(
                    table.list ? table.rows : std::vector<station::ValuesRow>{}, counter);
                if (numbering.active() && o->report.path.empty())
                    return UsageError(*app, "со списком или --number нужен --report: отчёт хранит, что уже "
                                            "выдано, и не даёт выдать это второй раз");
                std::unique_ptr<Report> report;
                if (auto refused = o->report.open(report, context.out)) return *refused;
                const bool verify = !o->noVerify;
                const auto work = [&](PortJob& j) {
                    return j.write(ready.blocks[IndexOf(ready.ports, j)], verify);
                };
                const auto words = [&](PortJob& j, PortJob::Result r) {
                    const std::size_t i = IndexOf(ready.ports, j);
                    if (j.verifyFailed()) PrintDifferences(j.port(), j.block(), j.written(), context.out);
                    return station::WriteEnd(j, r, verify, ready.files[i]);
                };
                const ReportTo to{report.get(), "write", numbering.active() ? &numbering : nullptr};
                if (o->loop) return RunStation(ready.ports, ready.options, context.out, work, words, to);
                return RunOnDevices(ready.ports, ready.options, context.out, work, words, to);
            }};
}

} // namespace tk7v::cli
