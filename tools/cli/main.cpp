// tk7v-cli: programs, verifies and compares ТК-7В configurations from a terminal, on one device
// or several at once, with the same image, files and exchange as the window.
#include "command.h"
#include "help.h"
#include "link/arguments.h"
#include "link/console.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <ios>
#include <iostream>

using namespace tk7v::cli;

int main(int argc, char** argv) {
    tk7v::Utf8Arguments arguments(argc, argv); // file names in any script, on every system
    tk7v::PrepareTerminal();                   // and Russian text that shows as such
    CLI::App app{"tk7v-cli: конфигурации ТК-7В из командной строки — чтение, запись с проверкой, сравнение.\n"
                 "Порт задаётся именем из списка (ttyUSB0, COM3) или путём (/dev/ttyUSB0), файл — именем\n"
                 "или - (стандартный ввод или вывод). Итоги — в стандартный вывод, ход обмена, ошибки и\n"
                 "предупреждения — в стандартный поток ошибок.\n"
                 "Код выхода: 0 — выполнено, 1 — ошибка устройства или обмена, 2 — ошибка в команде,\n"
                 "3 — файл не прочитан или не записан, 128+N — прервано сигналом N (130 — Ctrl+C).",
                 "tk7v-cli"};
    UseRussianHelp(app);
    app.option_defaults()->group("Параметры");
    app.set_help_flag("-h,--help", "эта справка");
    app.set_version_flag("--version", std::string("tk7v-cli " TK7V_VERSION), "версия программы");
    app.allow_extras();
    app.fallthrough(); // -q after the command too
    bool quiet = false;
    app.add_flag("-q,--quiet", quiet, "без строк хода обмена (итоги и ошибки остаются)");
    app.footer(
        "Примеры:\n"
        "  tk7v-cli ports --probe                       где отвечает ТК-7В\n"
        "  tk7v-cli read ttyUSB0 -o объект.cfg          прочитать устройство в файл\n"
        "  tk7v-cli write объект.cfg --port ttyUSB0 --port ttyUSB1\n"
        "                                               записать и проверить два устройства сразу\n"
        "  tk7v-cli write объект.cfg --port ttyUSB0 --port ttyUSB1 --values объекты.csv --report отчёт.csv\n"
        "                                               у каждого устройства свои значения, отчёт\n"
        "  tk7v-cli write объект.cfg --port ttyUSB0 --loop --report отчёт.jsonl\n"
        "                                               станция: устройство за устройством до Ctrl+C\n"
        "  tk7v-cli set объект.cfg CS1_phone_1=8,,8001234567 TS_tone_dial_on=Тон\n"
        "\n"
        "Справка по команде: tk7v-cli КОМАНДА --help.\n"
        "Доступ к последовательным портам в Linux: пользователь должен входить в группу dialout\n"
        "(sudo usermod -aG dialout $USER, затем войти в систему заново).");

    const Command commands[] = {
        AddPortsCommand(app),  AddIdentifyCommand(app), AddReadCommand(app),   AddWriteCommand(app),
        AddVerifyCommand(app), AddShowCommand(app),     AddDiffCommand(app),   AddSetCommand(app),
        AddNewCommand(app),    AddFieldsCommand(app),   AddLedgerCommand(app),
#ifdef TK7V_HAVE_LABELS
        AddLabelCommand(app),
#endif
    };
    for (const Command& c : commands) {
        c.app->group("Команды");
        c.app->allow_extras();
        // Every command's options under the same heading as the program's.
        for (CLI::Option* option : c.app->get_options())
            if (!option->get_positional()) option->group("Параметры");
    }

    if (const auto status = Parse(app, arguments.argc(), arguments.argv())) return *status;

    // Nothing ends the program with a core dump: an exception that escapes a command is said in
    // one line and ends the run with 3 when a file's reading or writing threw it, else with 1; one
    // that escapes a port's thread ends it with 1 the same way.
    std::set_terminate([] {
        std::fputs("tk7v-cli: внутренняя ошибка, работа прервана\n", stderr);
        std::_Exit(kDeviceFailed);
    });
    Progress out(Streams::Standard(), quiet);
    Context context{out, quiet};
    int status = kOk;
    try {
        for (const Command& c : commands)
            if (c.app->parsed()) status = c.run(context);
    } catch (const std::ios_base::failure& e) {
        std::cerr << "tk7v-cli: ошибка чтения или записи файла: " << e.what() << "\n";
        return kFileFailed;
    } catch (const std::exception& e) {
        std::cerr << "tk7v-cli: внутренняя ошибка: " << e.what() << "\n";
        return kDeviceFailed;
    }
    // Output that never arrived is a failure, whatever the command did.
    if ((out.outputFailed() || std::fflush(stdout) != 0 || std::ferror(stdout)) && status == kOk) {
        std::cerr << "tk7v-cli: "
                  << "стандартный вывод: Ошибка записи в файл\n";
        status = kFileFailed;
    }
    return status;
}
