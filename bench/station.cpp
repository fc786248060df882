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
    // From Start until `count` devices are done; the CPU used meanwhile into `cpu`.
    const auto run = [&](const std::vector<std::string>& ports, int count, double* cpu) {
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
    std::vector<double> one, many;
    double cpu = 0, cpuMs = 0;
    for (int i = 0; i < 3; ++i) {
        // One more than the sixteen: the device programmed alone would be left alone by the next run,
        // as one that holds its configuration already.
        std::vector<std::string> ports;
        const auto sims = StartSims(devices + 1, ports);
        one.push_back(run({ports[0]}, 1, nullptr));
        ports.erase(ports.begin());
        double seconds = 0;
        many.push_back(run(ports, devices, &seconds));
        cpu += seconds;
        cpuMs += many.back();
    }
    const Figures f1 = Stats(one), fn = Stats(many);
    std::printf(
        "station window, one device: median %.1f ms (%.1f..%.1f); %d devices: median %.1f ms (%.1f..%.1f)\n",
        f1.median, f1.min, f1.max, devices, fn.median, fn.min, fn.max);
    const std::string label = std::to_string(devices) + " devices";
    Report("station window, " + label + " / one", fn.median / f1.median, "x", 1.05);
    Report("station window's CPU while " + label + " are written, share of a core",
           100.0 * cpu / (cpuMs / 1000.0), "%", 5.0);

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
