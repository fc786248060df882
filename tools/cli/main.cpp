// tk7v-cli: programs, verifies and compares ТК-7В configurations from a terminal, on one device
// or several at once, with the same image, files and exchange as the window.
#include "config_io.h"
#include "fields.h"
#include "link/arguments.h"
#include "link/console.h"
#include "link/port_list.h"
#include "link/stop_signal.h"
#include "port_job.h"
#include "progress.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <csignal>
#include <cstdio>
#include <functional>
#include <iostream>
#include <memory>
#include <thread>

using namespace tk7v;
using namespace tk7v::cli;

namespace {

// Exit status, as the manual lists it.
enum Exit { kOk = 0, kDeviceFailed = 1, kUsage = 2, kFileFailed = 3, kInterrupted = 130 };

// Ctrl+C: the handler only raises the signal (an atomic flag and a write, both safe there); a
// watcher thread passes it on to every job.
StopSignal* gInterrupt = nullptr;
extern "C" void onInterrupt(int) {
    if (gInterrupt) gInterrupt->request();
}

struct LineOptions {
    std::uint32_t baud = 9600;
    int dataBits = 8;
    std::string parity = "none";
    std::string stopBits = "1";

    PortConfig config() const {
        PortConfig c;
        c.baudRate = baud;
        c.byteSize = static_cast<std::uint8_t>(dataBits);
        const char* const parities[] = {"none", "odd", "even", "mark", "space"};
        for (int i = 0; i < 5; ++i)
            if (parity == parities[i]) c.parity = static_cast<PortConfig::Parity>(i);
        c.stopBits = stopBits == "2"     ? PortConfig::StopBits::Two
                     : stopBits == "1.5" ? PortConfig::StopBits::OneAndHalf
                                         : PortConfig::StopBits::One;
        return c;
    }
    void add(CLI::App* app) {
        app->add_option("--baud", baud, "скорость, бит/с")->capture_default_str();
        app->add_option("--data-bits", dataBits, "биты данных")
            ->check(CLI::Range(5, 8))
            ->capture_default_str();
        app->add_option("--parity", parity, "чётность")
            ->check(CLI::IsMember({"none", "odd", "even", "mark", "space"}))
            ->capture_default_str();
        app->add_option("--stop-bits", stopBits, "стоповые биты")
            ->check(CLI::IsMember({"1", "1.5", "2"}))
            ->capture_default_str();
    }
};

// Runs `work` for every port at once, one thread each, and passes Ctrl+C on to all of them.
// The exit status of the whole: interrupted, else failed if any failed.
int runJobs(const std::vector<std::string>& ports, const LineOptions& line, bool quiet,
            const std::function<PortJob::Result(PortJob&)>& work,
            const std::function<void(PortJob&, PortJob::Result, Progress&)>& report) {
    Progress progress(ports, quiet);
    std::vector<std::unique_ptr<PortJob>> jobs;
    for (std::size_t i = 0; i < ports.size(); ++i)
        jobs.push_back(std::make_unique<PortJob>(ports[i], line.config(), progress, static_cast<int>(i)));
    std::vector<PortJob::Result> results(jobs.size(), PortJob::Result::Failed);

    StopSignal interrupt;
    gInterrupt = &interrupt;
    std::signal(SIGINT, onInterrupt);
    std::atomic<bool> finished{false};
    std::thread watcher([&] {
        while (!interrupt.waitFor(std::chrono::hours(24))) {
        }
        if (finished) return;
        for (auto& j : jobs)
            j->interrupt();
    });
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < jobs.size(); ++i)
        threads.emplace_back([&, i] { results[i] = work(*jobs[i]); });
    for (auto& t : threads)
        t.join();
    finished = true;
    interrupt.request();
    watcher.join();
    std::signal(SIGINT, SIG_DFL);
    gInterrupt = nullptr;

    int status = kOk;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        report(*jobs[i], results[i], progress);
        if (results[i] == PortJob::Result::Interrupted) status = kInterrupted;
        if (results[i] != PortJob::Result::Done && status == kOk) status = kDeviceFailed;
    }
    return status;
}

std::string failureText(const PortJob& job, PortJob::Result r, const char* interruptedText) {
    switch (r) {
    case PortJob::Result::Done:
        return {};
    case PortJob::Result::Interrupted:
        return interruptedText;
    case PortJob::Result::NoAnswer:
        return "устройство не ответило";
    case PortJob::Result::Failed:
        break;
    }
    return "ошибка: " + job.error();
}

void printDifferences(const std::vector<Difference>& diffs, const char* firstName, const char* secondName,
                      Progress& out, const std::string& indent = "") {
    const auto shown = [](const std::string& v) { return v.empty() ? std::string("(пусто)") : v; };
    for (const Difference& d : diffs)
        out.print(indent + d.name + (d.caption.empty() ? "" : " (" + d.caption + ")") + ": " + firstName +
                  " " + shown(d.first) + ", " + secondName + " " + shown(d.second));
}

nlohmann::json fieldJson(const FieldView& v) {
    nlohmann::json value;
    if (v.field->kind == FieldKind::Check)
        value = v.on;
    else
        value = v.text;
    return {{"caption", std::string(v.field->caption)}, {"value", value}, {"hidden", v.field->hidden}};
}

std::vector<std::string> portsOf(const std::vector<std::string>& positional,
                                 const std::vector<std::string>& flags) {
    std::vector<std::string> ports = flags;
    ports.insert(ports.begin(), positional.begin(), positional.end());
    return ports;
}

} // namespace

int main(int argc, char** argv) {
    Utf8Arguments arguments(argc, argv); // file names in any script, on every system
    PrepareTerminal();                   // and Russian text that shows as such
    CLI::App app{"tk7v-cli: конфигурации ТК-7В из командной строки — чтение, запись с проверкой, сравнение.\n"
                 "Порт задаётся именем из списка (ttyUSB0, COM3) или путём (/dev/ttyUSB0).\n"
                 "Код выхода: 0 — выполнено, 1 — ошибка устройства или обмена, 2 — ошибка в команде,\n"
                 "3 — файл не прочитан или не записан, 130 — прервано (Ctrl+C).",
                 "tk7v-cli"};
    app.option_defaults()->group("Параметры");
    app.set_help_flag("-h,--help", "эта справка");
    app.set_version_flag("--version", std::string("tk7v-cli " TK7V_VERSION), "версия программы");
    app.require_subcommand(1);
    app.fallthrough(); // -q after the command too
    auto formatter = app.get_formatter();
    formatter->label("Usage", "Запуск");
    formatter->label("Options", "Параметры");
    formatter->label("Positionals", "Аргументы");
    formatter->label("Subcommands", "Команды");
    formatter->label("SUBCOMMAND", "КОМАНДА");
    formatter->label("OPTIONS", "ПАРАМЕТРЫ");
    formatter->label("REQUIRED", "обязателен");
    formatter->label("TEXT", "ТЕКСТ");
    formatter->label("UINT", "ЧИСЛО");
    formatter->label("INT", "ЧИСЛО");
    app.footer("Примеры:\n"
               "  tk7v-cli ports --probe                      где отвечает ТК-7В\n"
               "  tk7v-cli read ttyUSB0 -o объект.cfg          прочитать устройство в файл\n"
               "  tk7v-cli write объект.cfg --port ttyUSB0 --port ttyUSB1 --verify\n"
               "                                              записать и проверить два устройства сразу\n"
               "  tk7v-cli set объект.cfg CS1_phone_1=8,,8001234567 TS_tone_dial_on=Тон\n"
               "\n"
               "Доступ к последовательным портам в Linux: пользователь должен входить в группу dialout\n"
               "(sudo usermod -aG dialout $USER, затем войти в систему заново).");
    LineOptions line;
    bool quiet = false;
    app.add_flag("-q,--quiet", quiet, "без строк хода обмена, только итог");

    auto* ports = app.add_subcommand("ports", "список портов, как его показывает окно программы");
    bool probe = false;
    ports->add_flag("--probe", probe, "опросить каждый порт: где отвечает ТК-7В (посылает RESET)");
    line.add(ports);

    std::vector<std::string> portArgs, portFlags;
    std::string output, file, file2;
    bool json = false, verifyAfter = false;
    std::vector<std::string> assignments;

    auto addPorts = [&](CLI::App* c, const char* positionalHelp) {
        c->add_option("--port", portFlags, "ещё один порт (можно повторять)");
        line.add(c);
        return positionalHelp;
    };
    auto* identify = app.add_subcommand("identify", "подключиться, показать строку опознания устройства");
    identify->add_option("port", portArgs, addPorts(identify, "порт"));
    auto* read = app.add_subcommand("read", "прочитать блок устройства в файл конфигурации");
    read->add_option("port", portArgs, addPorts(read, "порт"));
    read->add_option("-o,--output", output,
                     "файл; при нескольких портах {port} в имени заменяется именем порта")
        ->required();
    auto* write = app.add_subcommand("write", "записать файл конфигурации в устройство");
    write->add_option("args", portArgs, addPorts(write, "[ПОРТ] ФАЙЛ"))->required()->type_name("");
    write->add_flag("--verify", verifyAfter, "прочитать записанное обратно и сравнить");
    auto* verify = app.add_subcommand("verify", "сравнить устройство с файлом конфигурации");
    verify->add_option("args", portArgs, addPorts(verify, "[ПОРТ] ФАЙЛ"))->required()->type_name("");

    auto* show = app.add_subcommand("show", "все поля файла: имя, подпись, значение (скрытые отмечены)");
    show->add_option("file", file, "файл конфигурации")->required();
    show->add_flag("--json", json, "один объект JSON, ключи — имена полей");
    auto* diff = app.add_subcommand("diff", "поля, которыми различаются два файла");
    diff->add_option("file1", file, "первый файл")->required();
    diff->add_option("file2", file2, "второй файл")->required();
    diff->add_flag("--json", json, "список JSON");
    auto* set = app.add_subcommand("set", "изменить поля файла по правилам окна программы");
    set->add_option("file", file, "файл конфигурации")->required();
    set->add_option("assignments", assignments, "ИМЯ=ЗНАЧЕНИЕ ...")->required();
    set->add_option("-o,--output", output, "записать в другой файл (по умолчанию — в тот же)");
    auto* create = app.add_subcommand("new", "файл с начальными значениями окна программы");
    create->add_option("-o,--output", output, "файл")->required();

    // Every subcommand's options under the same heading as the program's.
    for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; }))
        for (CLI::Option* option : sub->get_options())
            if (!option->get_positional()) option->group("Параметры");

    try {
        app.parse(arguments.argc(), arguments.argv());
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "Ошибка в команде: " << e.what() << "\nСправка: tk7v-cli --help\n";
        return kUsage;
    }

    // Files only.
    const auto load = [](const std::string& path, ParameterImage& image) {
        const FileResult r = ReadConfig(path);
        if (!r.image) {
            std::cerr << path << ": " << r.error << "\n";
            return false;
        }
        image = *r.image;
        return true;
    };
    const auto save = [](const std::string& path, const ParameterImage& image) {
        const std::string error = WriteConfig(path, image);
        if (!error.empty()) std::cerr << path << ": " << error << "\n";
        return error.empty();
    };

    if (*show) {
        ParameterImage image;
        if (!load(file, image)) return kFileFailed;
        const auto fields = ViewFields(image);
        if (json) {
            nlohmann::json out = nlohmann::json::object();
            for (const FieldView& v : fields)
                out[std::string(v.field->control)] = fieldJson(v);
            std::cout << out.dump(2) << "\n";
        } else {
            for (const FieldView& v : fields)
                std::cout << v.field->control << " (" << v.field->caption << ")"
                          << (v.field->hidden ? " [скрытое]" : "") << ": " << v.text << "\n";
        }
        return kOk;
    }
    if (*diff) {
        ParameterImage a, b;
        if (!load(file, a) || !load(file2, b)) return kFileFailed;
        const auto diffs = DiffFields(a, b);
        if (json) {
            nlohmann::json out = nlohmann::json::array();
            for (const Difference& d : diffs)
                out.push_back(
                    {{"field", d.name}, {"caption", d.caption}, {"first", d.first}, {"second", d.second}});
            std::cout << out.dump(2) << "\n";
        } else {
            Progress out({}, false);
            printDifferences(diffs, "в первом", "во втором", out);
        }
        return diffs.empty() ? kOk : kDeviceFailed;
    }
    if (*set) {
        ParameterImage image;
        if (!load(file, image)) return kFileFailed;
        const std::string refused = SetFields(image, assignments);
        if (!refused.empty()) {
            std::cerr << refused << "\n";
            return kUsage;
        }
        return save(output.empty() ? file : output, image) ? kOk : kFileFailed;
    }
    if (*create) return save(output, StartupImage()) ? kOk : kFileFailed;

    if (*ports) {
        const std::vector<std::string> names = ListPorts();
        if (!probe) {
            for (const auto& n : names)
                std::cout << n << "\n";
            return kOk;
        }
        // Every port at once, each with a short wait for an answer.
        const int status = runJobs(
            names, line, true, [](PortJob& j) { return j.identify(std::chrono::milliseconds(1500)); },
            [](PortJob& j, PortJob::Result r, Progress& out) {
                out.print(j.port() + (r == PortJob::Result::Done ? "  ТК-7В: " + j.identification() : ""));
            });
        return status == kInterrupted ? kInterrupted : kOk;
    }

    // Device commands.
    std::vector<std::string> positional = portArgs;
    if (*write || *verify) {
        // [PORT] FILE: the file is the last word; a port may come before it or as --port.
        file = positional.back();
        positional.pop_back();
    }
    const std::vector<std::string> targets = portsOf(positional, portFlags);
    if (targets.empty()) {
        std::cerr << "Не задан порт (ПОРТ или --port)\n";
        return kUsage;
    }
    if (*identify) {
        return runJobs(
            targets, line, quiet, [](PortJob& j) { return j.identify(); },
            [](PortJob& j, PortJob::Result r, Progress& out) {
                out.print(j.port() + ": " +
                          (r == PortJob::Result::Done ? j.identification() : failureText(j, r, "прервано")));
            });
    }
    if (*read) {
        if (targets.size() > 1 && output.find("{port}") == std::string::npos) {
            std::cerr << "При нескольких портах в имени файла нужен {port}\n";
            return kUsage;
        }
        bool fileFailed = false;
        const int status = runJobs(
            targets, line, quiet, [](PortJob& j) { return j.read(); },
            [&](PortJob& j, PortJob::Result r, Progress& out) {
                if (r != PortJob::Result::Done)
                    return out.print(j.port() + ": " + failureText(j, r, "прервано"));
                std::string path = output;
                const std::string name = j.port().substr(j.port().find_last_of("/\\") + 1);
                for (std::size_t at; (at = path.find("{port}")) != std::string::npos;)
                    path.replace(at, 6, name);
                if (!save(path, AsTheWindowBuildsIt(j.block()))) {
                    fileFailed = true;
                    return;
                }
                out.print(j.port() + ": прочитано в " + path);
            });
        return status != kOk ? status : fileFailed ? kFileFailed : kOk;
    }
    ParameterImage image;
    if (!load(file, image)) return kFileFailed;
    // What the window would send after loading this file.
    const ParameterImage block = AsTheWindowBuildsIt(image);
    const bool check = *verify || verifyAfter;
    return runJobs(
        targets, line, quiet,
        [&](PortJob& j) { return *verify ? j.verify(block) : j.write(block, verifyAfter); },
        [&](PortJob& j, PortJob::Result r, Progress& out) {
            if (r == PortJob::Result::Done) {
                out.print(j.port() + (*verify ? ": совпадает с файлом"
                                      : check ? ": записано и проверено"
                                              : ": записано"));
                return;
            }
            // A write cut short, by Ctrl+C or by a fault, may have left part of the block.
            const bool partial = *write && j.wroteSomething() && !j.verifyFailed();
            out.print(j.port() + ": " + failureText(j, r, "прервано") +
                      (partial ? "; устройство может хранить часть блока" : ""));
            if (j.verifyFailed())
                printDifferences(DiffFields(j.block(), block), "в устройстве", "в файле", out, "  ");
        });
}
