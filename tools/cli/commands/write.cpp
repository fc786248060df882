// write: a configuration file into every device named, as the window would send it after loading
// that file, then each device read back and compared (unless --no-verify). Per-device values come
// from a table; --loop makes a programming station of it.
#include "command.h"
#include "config_io.h"
#include "device_file.h"
#include "help.h"
#include "model/config_file.h"
#include "model/field_rules.h"
#include "station/values_table.h"

#include <fstream>
#include <memory>

namespace tk7v::cli {

namespace {

// Applies each port's row of the table to its block. Every row is checked before anything is
// sent: a row for no port named, a port with no row, or a value refused fails the whole run.
std::optional<int> applyValues(const CLI::App& app, const std::string& path, DevicesAndFiles& ready,
                               bool strict, Progress& out) {
    std::string error;
    const std::optional<std::string> text = ReadTextFile(path, error);
    if (!text) {
        out.note(error);
        return int(kFileFailed);
    }
    const station::ValuesTable table = station::ReadValuesTable(*text);
    if (!table.error.empty()) return UsageError(app, path + ": " + table.error);
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
        bool refused = false;
        for (const FieldIssue& issue : SetFields(ready.blocks[i], row.assignments, strict)) {
            const bool warning = issue.warning() && !strict;
            refused = refused || !warning;
            out.note(where + ": " + (warning ? "предупреждение: " : "") + IssueText(issue));
        }
        if (refused) {
            out.note("Ни одно устройство не затронуто.");
            return int(kUsage);
        }
    }
    for (std::size_t i = 0; i < covered.size(); ++i)
        if (!covered[i]) return UsageError(app, path + ": нет строки для порта " + ready.ports[i].name);
    return std::nullopt;
}

} // namespace

Command AddWriteCommand(CLI::App& program) {
    struct Options {
        std::vector<std::string> words;
        bool verify = false, noVerify = false, loop = false, strict = false;
        std::string values;
        ReportOption report;
        DeviceOptionWords device;
    };
    auto o = std::make_shared<Options>();
    CLI::App* app = program.add_subcommand("write", "записать файл конфигурации в устройство и проверить");
    AddDevicesAndFileArguments(*app, o->words);
    app->add_flag("--verify", o->verify, "прочитать записанное обратно и сравнить (так и без него)");
    app->add_flag("--no-verify", o->noVerify, "не читать записанное обратно");
    app->add_option("--values", o->values,
                    "таблица CSV: столбец port и столбцы полей, строка на устройство;\n"
                    "значения ложатся на файл по правилам set")
        ->type_name("ТАБЛИЦА");
    app->add_flag("--strict", o->strict, "значение из таблицы вне диапазона — ошибка, а не предупреждение");
    app->add_flag("--loop", o->loop,
                  "станция: на каждом порту ждать устройство, записать, проверить,\n"
                  "ждать, пока его отключат, и так до Ctrl+C");
    o->report.add(app);
    o->device.add(app);
    return {app, [app, o](Context& context) {
                if (o->verify && o->noVerify) return UsageError(*app, "--verify и --no-verify вместе");
                DevicesAndFiles ready;
                if (auto refused = PrepareDevicesAndFile(*app, o->device, o->words, ready, context.out))
                    return *refused;
                if (!o->values.empty())
                    if (auto refused = applyValues(*app, o->values, ready, o->strict, context.out))
                        return *refused;
                std::unique_ptr<Report> report;
                if (auto refused = o->report.open(report, context.out)) return *refused;
                const bool verify = !o->noVerify;
                const auto work = [&](PortJob& j) {
                    return j.write(ready.blocks[IndexOf(ready.ports, j)], verify);
                };
                const auto words = [&](PortJob& j, PortJob::Result r) {
                    const std::size_t i = IndexOf(ready.ports, j);
                    DeviceEnd end;
                    if (r == PortJob::Result::Done) {
                        end = {verify ? "записано и проверено" : "записано", kOk, false};
                    } else if (j.verifyFailed()) {
                        end.differing = PrintDifferences(j.port(), j.block(), ready.blocks[i], context.out);
                        end.text = "записано, но проверка не пройдена, различается полей: " +
                                   std::to_string(end.differing.size());
                        end.status = kDeviceFailed;
                        end.error = true;
                    } else {
                        // A write cut short, by a signal or a fault, may have left part of the block.
                        end = FailedEnd(j, r, j.wroteSomething());
                    }
                    end.file = ready.files[i];
                    if (j.wroteSomething()) end.bytes = ready.blocks[i];
                    return end;
                };
                const ReportTo to{report.get(), "write"};
                if (o->loop) return RunStation(ready.ports, ready.options, context.out, work, words, to);
                return RunOnDevices(ready.ports, ready.options, context.out, work, words, to);
            }};
}

} // namespace tk7v::cli
