// The program's window (offscreen): its exchanges from the button's handler to the success text,
// its port list read again, and its start-up.
#include "bench.h"

#include "link/port_list_posix.h"
#include "tools/station/station_window.h"
#include "ui/tform1.h"

#include <QApplication>
#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <span>

namespace tk7v::bench {

// The exchanges driven from the window: every status text is a hand-off to its thread.
void WindowFigures() {
    for (int turnaround : {0, 5}) {
        SimProcess sim(SimArgs(turnaround));
        TForm1Environment env;
        env.listPorts = [] { return std::vector<std::string>{"sim"}; };
        env.portPath = [&](const std::string&) { return sim.port(); };
        TForm1 form(env);
        auto waitFor = [&](const QString& text) {
            QEventLoop loop;
            QObject::connect(&form, &TForm1::statusChanged, &loop, [&](const QString& t) {
                if (t.startsWith(text)) loop.quit();
            });
            QTimer::singleShot(10000, &loop, &QEventLoop::quit);
            loop.exec();
        };
        form.OpenCloseComm();
        waitFor("Установлена связь");
        form.waitForWorker();
        for (const Exchange& e : std::span(kExchanges).last(2)) // the identify is the connection's
            ExchangeFigures("window", e, turnaround, Repeat(kRuns, [&] {
                                const double ms = TimeMs([&] {
                                    e.op == opRead ? form.Button3Click() : form.Button4Click();
                                    waitFor(e.op == opRead ? "Операция чтения" : "Операция записи");
                                });
                                form.waitForWorker();
                                return ms;
                            }));
    }
}

// The window reads the port list again each time it is opened: with 32 ports among the many tty
// entries a machine declares, that must stay unnoticeable.
void PortListFigures() {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("tk7v-bench-ports-" + std::to_string(::getpid()));
    for (int i = 0; i < 128; ++i) {
        // A quarter of the entries have a device behind them, as ttyUSB ports do.
        const std::string name = (i % 4 ? "tty" : "ttyUSB") + std::to_string(i);
        fs::create_directories(i % 4 ? root / "sys" / name : root / "sys" / name / "device");
        fs::create_directories(root / "dev");
        std::ofstream(root / "dev" / name).put('\0');
    }
    TForm1Environment env;
    env.listPorts = [&] { return ScanLinuxPorts((root / "dev").string(), (root / "sys").string()); };
    TForm1 form(env);
    const Figures f = Stats(Repeat(20, [&] { return TimeMs([&] { form.RefreshPortList(); }); }));
    // The station reads it every second to show a tile for an adapter plugged in.
    station_window::StationEnv stationEnv;
    stationEnv.listPorts = env.listPorts;
    stationEnv.refresh = std::chrono::hours(1);
    station_window::StationWindow station({}, stationEnv);
    const double stationWorst =
        Stats(Repeat(20, [&] { return TimeMs([&] { station.refreshPorts(); }); })).max;
    fs::remove_all(root);
    std::printf("port list read again, 32 ports: %s\n", Median(f, 3).c_str());
    Report("port list read again on opening, 32 ports (worst of 20)", f.max, "ms", 10);
    Report("station's port list refresh, 32 ports (worst of 20)", stationWorst, "ms", 10);
}

// Runs in a child: the program's window created and shown offscreen, then its peak memory.
int StartupProbe(int argc, char** argv) {
    QApplication app(argc, argv);
    TForm1 form;
    form.show();
    if (!QTest::qWaitForWindowExposed(&form)) return 1;
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    std::printf("shown %ld\n", r.ru_maxrss);
    std::fflush(stdout);
    return 0;
}

void StartupFigures(const char* self) {
    std::vector<double> ms;
    long rss = 0;
    const std::string cmd = std::string("QT_QPA_PLATFORM=offscreen ") + self + " --startup-probe";
    for (int i = 0; i < kRuns; ++i) {
        const auto t0 = Clock::now();
        FILE* p = ::popen(cmd.c_str(), "r");
        char line[64] = {};
        if (!p || !std::fgets(line, sizeof line, p)) return Report("start-up", 1e9, "ms", 1000);
        ms.push_back(MsSince(t0));
        std::sscanf(line, "shown %ld", &rss);
        ::pclose(p);
    }
    const Figures f = Stats(ms);
    std::printf("start-up to the window shown: %s\n", Median(f).c_str());
    Report("start-up to the window shown (median)", f.median, "ms", 1000);
    std::printf("peak resident memory at start-up: %.1f MiB\n", rss / 1024.0);
}

} // namespace tk7v::bench
