// The station window programming devices, all in this process (the window thread, the ports'
// threads): from Start to the last device's result, against one device alone; the process's CPU
// meanwhile; and the CPU while every port waits for a device.
#include "bench.h"

#include "tools/station/station_window.h"

#include <QEventLoop>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

namespace tk7v::bench {

namespace {

struct Quiet : station_window::Asks {
    void error(QWidget*, const QString& text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
    bool confirm(QWidget*, const QString&) override { return true; }
    QString openFile(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    QString saveFile(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
};

// The event loop run for `span`, otherwise idle as in use.
void Idle(std::chrono::milliseconds span) {
    QEventLoop loop;
    QTimer::singleShot(span, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

void StationFigures(int devices) {
    QTemporaryDir dir;
    const QString file = dir.filePath("bench.cfg");
    WriteImage(file.toStdString(), StartupImage());
    Quiet asks;
    // A window on `ports`, every one of them taking part.
    const auto window = [&](const std::vector<std::string>& ports) {
        station_window::StationEnv env;
        env.asks = &asks;
        env.listPorts = [ports] { return ports; };
        env.sound = false;
        QSettings("tk7v", "tk7v-station").clear();
        return std::make_unique<station_window::StationWindow>(
            station_window::StartWith{
                file, {}, dir.filePath("report.csv"), {}, {}, dir.filePath("ledger.csv")},
            env);
    };
    // From Start until every device is done; the CPU used meanwhile into `cpu`.
    const auto run = [&](const std::vector<std::string>& ports, double* cpu) {
        const int count = static_cast<int>(ports.size());
        const auto w = window(ports);
        const double cpu0 = ProcessCpuSeconds();
        const auto t0 = Clock::now();
        if (!w->start()) return 1e9;
        // Looked at ten times a second, the event loop otherwise idle as in use.
        QEventLoop loop;
        QTimer look;
        QObject::connect(&look, &QTimer::timeout, &loop, [&] {
            if (w->done() + w->failed() >= count || Clock::now() - t0 > 60s) loop.quit();
        });
        look.start(100);
        loop.exec();
        const double ms = MsSince(t0);
        if (cpu) *cpu = ProcessCpuSeconds() - cpu0;
        if (w->done() < count) ++failures;
        return ms;
    };
    const Scaling s = OneAgainstMany(3, devices, true, run);
    std::printf("station window, one device: %s; %d devices: %s\n", Median(s.one).c_str(), devices,
                Median(s.many).c_str());
    const std::string label = std::to_string(devices) + " devices";
    Report("station window, " + label + " / one", s.many.median / s.one.median, "x", 1.05);
    Report("station window's CPU while " + label + " are written, share of a core", s.cpuShare, "%", 5.0);

    // Waiting: every port listed, none with a device that answers.
    std::vector<std::string> ports;
    const auto silent = StartSims(devices, ports, {"--silent"});
    const auto w = window(ports);
    w->start();
    Idle(1s); // the ports settle into their waits
    const double cpu0 = ProcessCpuSeconds();
    Idle(5s);
    Report("station window's CPU while " + label + " wait for a device, share of a core",
           100.0 * (ProcessCpuSeconds() - cpu0) / 5.0, "%", 0.5);
    w->stop();
    QSignalSpy ended(w.get(), &station_window::StationWindow::runEnded);
    ended.wait(10000);
}

} // namespace tk7v::bench
