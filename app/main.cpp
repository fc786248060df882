// The configurator's entry: one instance per user, the window, and a box of last resort for an
// error that escapes everything else.
#include "app/ending_signals.h"
#include "app/instance_guard.h"
#include "app/layout_mnemonics.h"
#include "app/qt_russian.h"
#include "app/startup_messages.h"
#include "ui/tform1.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>

namespace {

constexpr const char* kNoDisplay =
    "Конфигуратор ТК-7В: не удалось открыть экран, окну программы негде появиться. Запустите "
    "программу в графическом сеансе (нужен дисплей: переменная DISPLAY или WAYLAND_DISPLAY).\n";

// Reports an exception that escapes a handler, then ends the program in order.
class TApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            lastResort(QString::fromUtf8(e.what()));
        } catch (...) {
            lastResort(QStringLiteral("Неизвестная ошибка"));
        }
        return false;
    }
    static void lastResort(const QString& message) {
        QMessageBox::critical(nullptr, tk7v::kAppTitle, tk7v::WithFullStop(message));
        QCoreApplication::exit(0);
    }
};

} // namespace

int main(int argc, char** argv) {
    std::optional<tk7v::StartupMessages> startup(std::in_place, kNoDisplay);
    tk7v::InstanceGuard guard;
    {
        // The guard comes before anything that needs a display, so a second copy started where
        // none can be opened still ends quietly with 0.
        QCoreApplication probe(argc, argv);
        if (!guard.lock()) {
            // A file double-clicked while the window is open goes to that window.
            const QStringList args = QCoreApplication::arguments();
            guard.askFirstToComeForward(args.size() > 1 ? args[1] : QString());
            return 0;
        }
    }
    TApplication app(argc, argv);
    startup.reset();
    // A file handed over by a later start opens as the Open button opens the one chosen.
    guard.listenFor([]() -> QWidget* { return tk7v::Form1.data(); },
                    [](const QString& path) {
                        if (tk7v::Form1) tk7v::Form1->OpenFile(path);
                    });
    try {
        QApplication::setStyle(QStringLiteral("Windows"));
        tk7v::InstallQtRussian(app);
        tk7v::LayoutMnemonics mnemonics;
        app.installEventFilter(&mnemonics);
        tk7v::TForm1 form;
        tk7v::Form1 = &form;
        form.show();
        guard.publish(&form);
        // A configuration handed over by Explorer's "Открыть с помощью" or a file manager.
        if (const QStringList args = QCoreApplication::arguments(); args.size() > 1) form.OpenFile(args[1]);
        // Ended from outside (a logout, a shutdown, kill, Ctrl+C in the terminal that started it),
        // the device is left as the user's Disconnect leaves it; the end is said on stderr.
        const tk7v::EndingSignals ending([&](int sig) {
            std::fprintf(stderr, "Конфигуратор ТК-7В: завершение по сигналу %s\n",
                         tk7v::EndingSignals::Name(sig));
            form.ReleaseDevice();
            QCoreApplication::exit(128 + sig);
        });
        // Windows ends a session with messages, not signals.
        QObject::connect(&app, &QGuiApplication::commitDataRequest, &form, [&form] { form.ReleaseDevice(); });
        const int status = app.exec();
        if (status != 0) return status;
    } catch (const std::exception& e) {
        TApplication::lastResort(QString::fromUtf8(e.what()));
    }
    return 0;
}
