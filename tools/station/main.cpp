// The station window's entry: what a shortcut or a double click on a .cfg hands it, the window.
#include "station_window.h"

#include "app/ending_signals.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tk7v-station"));
    QApplication::setApplicationVersion(QStringLiteral(TK7V_VERSION));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/pictures/icon32.xpm")));

    QCommandLineParser parser;
    parser.setApplicationDescription(tk7v::station_window::kStationTitle);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("ФАЙЛ.cfg"),
                                 QStringLiteral("конфигурация, которая записывается"),
                                 QStringLiteral("[ФАЙЛ.cfg]"));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("порт, который участвует (можно несколько)"),
                                  QStringLiteral("ПОРТ"));
    const QCommandLineOption report(QStringLiteral("report"), QStringLiteral("файл отчёта (.csv или .jsonl)"),
                                    QStringLiteral("ФАЙЛ"));
    const QCommandLineOption values(
        QStringLiteral("values"),
        QStringLiteral("список: таблица CSV без столбца port, строка на устройство"),
        QStringLiteral("ТАБЛИЦА"));
    const QCommandLineOption number(QStringLiteral("number"),
                                    QStringLiteral("номера по порядку: ПОЛЕ=ПЕРВЫЙ-ПОСЛЕДНИЙ"),
                                    QStringLiteral("ПОЛЕ=ДИАПАЗОН"));
    const QCommandLineOption ledger(QStringLiteral("ledger"),
                                    QStringLiteral("учёт выданных номеров и строк (.csv или .jsonl)"),
                                    QStringLiteral("ФАЙЛ"));
    parser.addOptions({port, report, values, number, ledger});
    parser.process(app);

    tk7v::station_window::StartWith start;
    if (!parser.positionalArguments().isEmpty()) start.file = parser.positionalArguments().constFirst();
    start.ports = parser.values(port);
    start.report = parser.value(report);
    start.values = parser.value(values);
    start.number = parser.value(number);
    start.ledger = parser.value(ledger);
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
