// The station window's entry: what a shortcut or a double click on a .cfg hands it, the window.
#include "station_window.h"

#include "app/ending_signals.h"
#include "app/layout_mnemonics.h"
#include "app/qt_russian.h"
#include "app/startup_messages.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>

#include <cstdio>
#include <optional>

namespace {

constexpr const char* kNoDisplay =
    "Станция программирования ТК-7В: не удалось открыть экран, окну станции негде появиться. "
    "Запустите её в графическом сеансе (нужен дисплей: переменная DISPLAY или WAYLAND_DISPLAY).\n";

// Qt's own help is in English and needs the window's application, which needs a display: the
// station's words are its own, and --help answers anywhere.
constexpr const char* kUsage = R"(Использование: tk7v-station [ФАЙЛ.cfg] [параметры]

Станция программирования ТК-7В: записывает файл конфигурации в устройства на отмеченных портах,
проверяет записанное и ведёт отчёт. Не заданное берётся из прошлого запуска.

  ФАЙЛ.cfg                 конфигурация, которая записывается
  --port ПОРТ              порт, который участвует (можно несколько); заданы порты — участвуют
                           только они
  --report ФАЙЛ            файл отчёта (.csv или .jsonl)
  --values ТАБЛИЦА         список: таблица CSV без столбца port, строка на устройство
  --number ПОЛЕ=ДИАПАЗОН   номера по порядку: ПОЛЕ=ПЕРВЫЙ-ПОСЛЕДНИЙ
  --ledger ФАЙЛ|АДРЕС      учёт выданных номеров и строк (.csv, .jsonl или сервер
                           postgresql://ПОЛЬЗОВАТЕЛЬ@УЗЕЛ/БАЗА)
  -h, --help               эта справка
  -v, --version            версия программы
)";

} // namespace

int main(int argc, char** argv) {
    tk7v::station_window::StartWith start;
    {
        // Read without a display, so that --help, --version and a mistyped option need none.
        QCoreApplication reading(argc, argv);
        QCommandLineParser parser;
        const QCommandLineOption help(QStringList{"h", "help"});
        const QCommandLineOption version(QStringList{"v", "version"});
        const QCommandLineOption port(QStringLiteral("port"), {}, QStringLiteral("ПОРТ"));
        const QCommandLineOption report(QStringLiteral("report"), {}, QStringLiteral("ФАЙЛ"));
        const QCommandLineOption values(QStringLiteral("values"), {}, QStringLiteral("ТАБЛИЦА"));
        const QCommandLineOption number(QStringLiteral("number"), {}, QStringLiteral("ПОЛЕ=ДИАПАЗОН"));
        const QCommandLineOption ledger(QStringLiteral("ledger"), {}, QStringLiteral("ФАЙЛ"));
        parser.addOptions({help, version, port, report, values, number, ledger});
        if (!parser.parse(QCoreApplication::arguments())) {
            const QStringList unknown = parser.unknownOptionNames();
            std::fprintf(stderr, "tk7v-station: %s\n(tk7v-station --help — справка)\n",
                         qPrintable(unknown.isEmpty()
                                        ? QStringLiteral("у параметра нет значения")
                                        : QStringLiteral("неизвестный параметр: ") + unknown.join(' ')));
            return 2;
        }
        if (parser.isSet(help)) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (parser.isSet(version)) {
            std::printf("tk7v-station %s\n", TK7V_VERSION);
            return 0;
        }
        if (!parser.positionalArguments().isEmpty()) start.file = parser.positionalArguments().constFirst();
        start.ports = parser.values(port);
        start.report = parser.value(report);
        start.values = parser.value(values);
        start.number = parser.value(number);
        start.ledger = parser.value(ledger);
    }
    std::optional<tk7v::StartupMessages> startup(std::in_place, kNoDisplay);
    QApplication app(argc, argv);
    startup.reset();
    QApplication::setApplicationName(QStringLiteral("tk7v-station"));
    QApplication::setApplicationVersion(QStringLiteral(TK7V_VERSION));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/pictures/icon32.xpm")));
    tk7v::InstallQtRussian(app);
    tk7v::LayoutMnemonics mnemonics;
    app.installEventFilter(&mnemonics);

    tk7v::station_window::StationWindow window(start);
    window.showAsLeft();
    // Ended from outside (a logout, a shutdown, kill, Ctrl+C in the terminal that started it),
    // every device is left as Stop leaves it; the end is said on stderr.
    const tk7v::EndingSignals ending([&](int sig) {
        std::fprintf(stderr, "Станция программирования ТК-7В: завершение по сигналу %s\n",
                     tk7v::EndingSignals::Name(sig));
        window.release();
        QCoreApplication::exit(128 + sig);
    });
    // Windows ends a session with messages, not signals.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window, [&window] { window.release(); });
    return QApplication::exec();
}
