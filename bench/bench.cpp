// Benchmarks of whole exchanges against tk7v-sim paced at 9600 baud. Prints one line per figure
// and exits non-zero when a goal is missed.
#include "common/sim_process.h"
#include "link/port_list_posix.h"
#include "link/serial_port.h"
#include "link/tconnect.h"
#include "station/numbering.h"
#include "tools/station/station_window.h"
#include "ui/tform1.h"

#include <QApplication>
#include <QEventLoop>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numeric>
#include <set>
#include <spawn.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>

using namespace tk7v;
using namespace std::chrono;
using tk7v::test::SimProcess;

namespace {

constexpr double kByteMs = 10.0 * 1000.0 / 9600.0; // 10 bits a byte at 9600 baud
constexpr int kRuns = 5;
const std::string kIdent = "TK7V v2.6 (simulator)";

struct Figures {
    double median, min, max;
};

Figures stats(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v.front(), v.back()};
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(std::ceil(p * v.size())) - 1)];
}

int failures = 0;
int cliFailures = 0; // runs of tk7v-cli that did not end with 0: their times prove nothing

void report(const std::string& what, double value, const char* unit, double goal, bool below = true) {
    const bool ok = below ? value < goal : value > goal;
    std::printf("%-58s %9.3f %-4s (goal %s %g) %s\n", what.c_str(), value, unit, below ? "<" : ">", goal,
                ok ? "ok" : "MISSED");
    if (!ok) ++failures;
}

// Bytes that cross the wire, both ways, and the replies (each costs a device turnaround).
struct Exchange {
    Operation op;
    const char* name;
    double bytes;
    int replies;
    double pausesMs;
};
const Exchange kExchanges[] = {
    {opConnect, "identify", 6.0 + static_cast<double>(kIdent.size()) + 1, 1,
     0},                                                                // RESET\r; the line up to its CR
    {opRead, "read", 10 * 6 + 9 * (6 + 26 + 1) + (6 + 4 + 1), 10, 100}, // 368
    {opWrite, "write", 20 * 7 + 512 + 20 * 4, 20, 100},                 // chunks; "OK\r\n" each
};

double lowerBoundMs(const Exchange& e, int turnaroundMs) {
    return e.bytes * kByteMs + e.replies * turnaroundMs + e.pausesMs;
}

struct QuietHost : TransferHost {
    void PostStatus(const std::string&) override {}
    void ReportIoError(std::uint32_t code) override { std::fprintf(stderr, "I/O error %u\n", code); }
    void DeliverBlock(const Block&) override {}
    void CollectBlock(Block& b) override { b.fill(0x5A); }
    void RestoreControls() override {}
};

std::vector<std::string> simArgs(int turnaround, std::vector<std::string> more = {}) {
    std::vector<std::string> a = {"--baud",  "9600", "--turnaround", std::to_string(turnaround),
                                  "--ident", kIdent};
    a.insert(a.end(), more.begin(), more.end());
    return a;
}

double runWorker(SerialPort& port, Operation op) {
    std::atomic<int> operation{op};
    ManualResetEvent done;
    QuietHost host;
    port.purge();
    const auto t0 = steady_clock::now();
    TConnect worker(port, operation, done, host);
    worker.Start();
    worker.Join();
    return duration<double, std::milli>(steady_clock::now() - t0).count();
}

void workerFigures(int turnaround, std::vector<double>& gaps) {
    for (const Exchange& e : kExchanges) {
        std::vector<double> ms;
        for (int i = 0; i < kRuns; ++i) {
            SimProcess sim(simArgs(turnaround, {"--timing", "/dev/null"}));
            SerialPort port;
            port.open(sim.port(), PortConfig{});
            ms.push_back(runWorker(port, e.op));
        }
        const Figures f = stats(ms);
        const double bound = lowerBoundMs(e, turnaround);
        std::printf("worker %-8s turnaround %d ms: median %.1f ms (%.1f..%.1f), lower bound %.1f ms\n",
                    e.name, turnaround, f.median, f.min, f.max, bound);
        if (e.op != opConnect)
            report("worker " + std::string(e.name) + " / lower bound, turnaround " +
                       std::to_string(turnaround) + " ms",
                   f.median / bound, "x", 1.10);
    }
    // The host's turnaround, seen from the device: last byte of a reply to the next command,
    // within one exchange (a fresh simulator for each, so no pause between exchanges counts).
    for (Operation op : {opRead, opWrite}) {
        SimProcess probe(simArgs(turnaround));
        const std::string timing = (probe.dir() / "timing.txt").string();
        SimProcess timed(simArgs(turnaround, {"--timing", timing}));
        SerialPort port;
        port.open(timed.port(), PortConfig{});
        runWorker(port, op);
        timed.stop();
        std::ifstream in(timing);
        for (double us; in >> us;)
            gaps.push_back(us / 1000.0);
    }
}

// The same exchanges driven from the window: every status text is a hand-off to its thread.
void windowFigures(int turnaround) {
    SimProcess sim(simArgs(turnaround));
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
    for (const Exchange& e : kExchanges) {
        if (e.op == opConnect) continue;
        std::vector<double> ms;
        for (int i = 0; i < kRuns; ++i) {
            const auto t0 = steady_clock::now();
            if (e.op == opRead)
                form.Button3Click();
            else
                form.Button4Click();
            waitFor(e.op == opRead ? "Операция чтения" : "Операция записи");
            ms.push_back(duration<double, std::milli>(steady_clock::now() - t0).count());
            form.waitForWorker();
        }
        const Figures f = stats(ms);
        const double bound = lowerBoundMs(e, turnaround);
        std::printf("window %-8s turnaround %d ms: median %.1f ms (%.1f..%.1f), lower bound %.1f ms\n",
                    e.name, turnaround, f.median, f.min, f.max, bound);
        report("window " + std::string(e.name) + " / lower bound, turnaround " + std::to_string(turnaround) +
                   " ms",
               f.median / bound, "x", 1.10);
    }
}

void silentDeviceFigures() {
    SimProcess sim({"--silent"});
    SerialPort port;
    port.open(sim.port(), PortConfig{});
    QuietHost host;
    ManualResetEvent done;
    std::atomic<int> operation{opRead};

    // CPU while the worker waits 5 s for a device that never answers.
    {
        TConnect worker(port, operation, done, host);
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        worker.Start();
        done.wait(5s);
        getrusage(RUSAGE_SELF, &after);
        auto cpu = [](const rusage& r) {
            return r.ru_utime.tv_sec + r.ru_stime.tv_sec + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
        };
        report("CPU while waiting 5 s for a silent device, share of a core",
               100.0 * (cpu(after) - cpu(before)) / 5.0, "%", 1.0);
        worker.RequestStop();
    }
    // From a stop request to DoneEvent.
    std::vector<double> ms;
    for (int i = 0; i < 20; ++i) {
        done.reset();
        operation = opRead;
        TConnect worker(port, operation, done, host);
        worker.Start();
        std::this_thread::sleep_for(20ms); // let it reach its wait; the figure is the wake-up
        const auto t0 = steady_clock::now();
        worker.RequestStop();
        done.wait(5s);
        ms.push_back(duration<double, std::milli>(steady_clock::now() - t0).count());
    }
    const Figures f = stats(ms);
    std::printf("stop to DoneEvent: median %.3f ms, worst %.3f ms\n", f.median, f.max);
    report("stop to DoneEvent, worst of 20", f.max, "ms", 20);
}

// Starts `args` (the program first) with its standard streams as `streams` sets them (the file
// actions are destroyed here); its process number, or -1.
pid_t spawn(std::vector<std::string> args, const std::function<void(posix_spawn_file_actions_t&)>& streams) {
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    streams(fa);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

// tk7v-cli write --verify as a programming station runs it: one device, then sixteen at once,
// from the start of the process to its end, and the CPU time of the command line itself (its
// own child's, not the simulators').
double runCli(const std::vector<std::string>& ports, const std::string& file, double* cpuSeconds,
              const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {TK7V_CLI, "-q", "write", file, "--verify"};
    args.insert(args.end(), extra.begin(), extra.end());
    for (const auto& p : ports)
        args.insert(args.end(), {"--port", p});
    const auto t0 = steady_clock::now();
    const pid_t pid =
        spawn(args, [](auto& fa) { posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0); });
    int status = -1;
    rusage used{};
    if (pid > 0) ::wait4(pid, &status, 0, &used);
    const double ms = duration<double, std::milli>(steady_clock::now() - t0).count();
    if (status != 0) {
        std::fprintf(stderr, "tk7v-cli failed: %d\n", status);
        ++cliFailures;
    }
    if (cpuSeconds)
        *cpuSeconds = used.ru_utime.tv_sec + used.ru_stime.tv_sec +
                      (used.ru_utime.tv_usec + used.ru_stime.tv_usec) / 1e6;
    return ms;
}

// The machine's load over the last minute: figures taken beside other work are not comparable.
double loadAverage() {
    double load = 0;
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1) load = 0;
        std::fclose(f);
    }
    return load;
}

// `devices` written at once by one tk7v-cli, against one device alone; `extra`, its options
// (a ledger, numbers), named by `how`.
void cliFigures(int devices, const std::vector<std::string>& extra = {}, const std::string& how = {}) {
    const std::string file = (std::filesystem::temp_directory_path() / "tk7v-bench.cfg").string();
    {
        ParameterImage image = StartupImage();
        std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), 512);
    }
    const double bound = lowerBoundMs(kExchanges[1], 0) + lowerBoundMs(kExchanges[2], 0);
    const double loadBefore = loadAverage();
    std::vector<double> one, many;
    double cpu = 0, cpuMs = 0;
    for (int i = 0; i < kRuns; ++i) {
        std::vector<std::unique_ptr<SimProcess>> sims;
        std::vector<std::string> ports;
        for (int d = 0; d < devices; ++d) {
            sims.push_back(std::make_unique<SimProcess>(simArgs(0)));
            ::setpriority(PRIO_PROCESS, sims.back()->pid(), 10); // the simulators yield to the tool
            ports.push_back(sims.back()->port());
        }
        one.push_back(runCli({ports[0]}, file, nullptr, extra));
        double seconds = 0;
        many.push_back(runCli(ports, file, &seconds, extra));
        cpu += seconds;
        cpuMs += many.back();
    }
    const double load = std::max(loadBefore, loadAverage());
    const Figures f1 = stats(one), fn = stats(many);
    std::printf(
        "tk7v-cli write --verify, one device: median %.1f ms (%.1f..%.1f), write + read bound %.1f ms\n",
        f1.median, f1.min, f1.max, bound);
    std::printf("tk7v-cli write --verify, %d devices: median %.1f ms (%.1f..%.1f)\n", devices, fn.median,
                fn.min, fn.max);
    if (load > 1.0)
        std::printf(
            "note: the machine was busy (load average %.2f): the station figures are not comparable\n", load);
    report("cli write --verify, runs that failed", cliFailures, "", 1);
    report("cli write --verify, one device / (write + read bound)", f1.median / bound, "x", 1.05);
    const std::string label = std::to_string(devices) + " devices" + how;
    report("cli write --verify, " + label + " / one", fn.median / f1.median, "x", 1.05);
    report("cli's own CPU while " + label + " are written, share of a core", 100.0 * cpu / (cpuMs / 1000.0),
           "%", 5.0);
    std::filesystem::remove(file);
}

// A ledger on a PostgreSQL server of the bench's own (scripts/test-postgres): one claim's time
// on the loopback, and sixteen devices numbered from it against one.
void serverFigures() {
    const std::string dir = (std::filesystem::temp_directory_path() / "tk7v-bench-postgres").string();
    const std::string script = std::string(TK7V_SOURCE) + "/scripts/test-postgres";
    const auto server = [&](const std::string& what) {
        return std::system((script + " " + what + " " + dir + " >/dev/null 2>&1").c_str()) == 0;
    };
    server("stop"); // one an interrupted bench left
    if (!server("start")) {
        report("ledger server started", 0, "", 1, false);
        return;
    }
    std::string uri;
    std::getline(std::ifstream(dir + "/uri"), uri);
    std::string error;
    const auto ledger = tk7v::station::OpenLedger(uri, {}, std::chrono::seconds(5), error);
    const tk7v::station::Numbering numbering({}, tk7v::station::Counter{"TS_object_id", 1, 8191});
    std::vector<double> ms;
    for (int i = 0; ledger && i < 200; ++i) {
        ParameterImage image = StartupImage();
        const auto t0 = steady_clock::now();
        const auto claim = numbering.claim(*ledger, {}, image);
        ms.push_back(duration<double, std::milli>(steady_clock::now() - t0).count());
        if (claim.outcome != tk7v::station::Numbering::Claim::Outcome::Given) error = claim.error;
    }
    if (!error.empty()) std::fprintf(stderr, "ledger server: %s\n", error.c_str());
    const Figures f = stats(ms);
    std::printf("claim on a server over the loopback: median %.2f ms (%.2f..%.2f) over %zu claims\n",
                f.median, f.min, f.max, ms.size());
    report("claim on a server ledger, median", error.empty() ? f.median : 1e9, "ms", 20.0);
    cliFigures(16, {"--ledger", uri, "--number", "TS_object_id=1-8191"}, " with a server ledger");
    server("stop");
}

// The window reads the port list again each time it is opened: with 32 ports among the many tty
// entries a machine declares, that must stay unnoticeable.
void portListFigures() {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("tk7v-bench-ports-" + std::to_string(::getpid()));
    for (int i = 0; i < 128; ++i) {
        // A quarter of the entries have a device behind them, as ttyUSB ports do.
        const std::string name = (i % 4 ? "tty" : "ttyUSB") + std::to_string(i);
        fs::create_directories(root / "sys" / name);
        if (i % 4 == 0) fs::create_directories(root / "sys" / name / "device");
        fs::create_directories(root / "dev");
        std::ofstream(root / "dev" / name).put('\0');
    }
    TForm1Environment env;
    env.listPorts = [&] { return ScanLinuxPorts((root / "dev").string(), (root / "sys").string()); };
    TForm1 form(env);
    std::vector<double> ms;
    for (int i = 0; i < 20; ++i) {
        const auto t0 = steady_clock::now();
        form.RefreshPortList();
        ms.push_back(duration<double, std::milli>(steady_clock::now() - t0).count());
    }
    // The station reads it every second to show a tile for an adapter plugged in.
    station_window::StationEnv stationEnv;
    stationEnv.listPorts = env.listPorts;
    stationEnv.refresh = std::chrono::hours(1);
    std::vector<double> stationMs;
    {
        station_window::StationWindow station({}, stationEnv);
        for (int i = 0; i < 20; ++i) {
            const auto t0 = steady_clock::now();
            station.refreshPorts();
            stationMs.push_back(duration<double, std::milli>(steady_clock::now() - t0).count());
        }
    }
    fs::remove_all(root);
    const Figures f = stats(ms);
    std::printf("port list read again, 32 ports: median %.3f ms (%.3f..%.3f)\n", f.median, f.min, f.max);
    report("port list read again on opening, 32 ports (worst of 20)", f.max, "ms", 10);
    report("station's port list refresh, 32 ports (worst of 20)", stats(stationMs).max, "ms", 10);
}

double processCpuSeconds() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return r.ru_utime.tv_sec + r.ru_stime.tv_sec + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

// The station window programming devices, all in this process (the window thread, the ports'
// threads): from Start to the last device's result, against one device alone; the process's
// CPU meanwhile; and the CPU while every port waits for a device.
void stationFigures(int devices) {
    QTemporaryDir dir;
    const QString file = dir.filePath("bench.cfg");
    {
        const ParameterImage image = StartupImage();
        std::ofstream(file.toStdString(), std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), 512);
    }
    QSettings("tk7v", "tk7v-station").clear();
    struct Quiet : station_window::Asks {
        void error(QWidget*, const QString& text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
        bool confirm(QWidget*, const QString&) override { return true; }
        QString openFile(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
        QString saveFile(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    } asks;
    // From Start until `count` devices are done; the CPU used meanwhile into `cpu`.
    const auto run = [&](const std::vector<std::string>& ports, int count, double* cpu) {
        station_window::StationEnv env;
        env.asks = &asks;
        env.listPorts = [ports] { return ports; };
        env.sound = false;
        QSettings("tk7v", "tk7v-station").clear(); // every port listed takes part
        station_window::StationWindow window(
            {file, {}, dir.filePath("report.csv"), {}, {}, dir.filePath("ledger.csv")}, env);
        const double cpu0 = processCpuSeconds();
        const auto t0 = steady_clock::now();
        if (!window.start()) return 1e9;
        // Looked at ten times a second, the event loop otherwise idle as in use.
        QEventLoop loop;
        QTimer look;
        QObject::connect(&look, &QTimer::timeout, &loop, [&] {
            if (window.done() + window.failed() >= count || steady_clock::now() - t0 > 60s) loop.quit();
        });
        look.start(100);
        loop.exec();
        const double ms = duration<double, std::milli>(steady_clock::now() - t0).count();
        if (cpu) *cpu = processCpuSeconds() - cpu0;
        if (window.done() < count) ++failures;
        return ms;
    };
    std::vector<double> one, many;
    double cpu = 0, cpuMs = 0;
    for (int i = 0; i < 3; ++i) {
        std::vector<std::unique_ptr<SimProcess>> sims;
        std::vector<std::string> ports;
        // One more than the sixteen: the device programmed alone would be left alone by the next run,
        // as one that holds its configuration already.
        for (int d = 0; d <= devices; ++d) {
            sims.push_back(std::make_unique<SimProcess>(simArgs(0)));
            ::setpriority(PRIO_PROCESS, sims.back()->pid(), 10);
            ports.push_back(sims.back()->port());
        }
        one.push_back(run({ports[0]}, 1, nullptr));
        ports.erase(ports.begin());
        double seconds = 0;
        many.push_back(run(ports, devices, &seconds));
        cpu += seconds;
        cpuMs += many.back();
    }
    const Figures f1 = stats(one), fn = stats(many);
    std::printf(
        "station window, one device: median %.1f ms (%.1f..%.1f); %d devices: median %.1f ms (%.1f..%.1f)\n",
        f1.median, f1.min, f1.max, devices, fn.median, fn.min, fn.max);
    const std::string label = std::to_string(devices) + " devices";
    report("station window, " + label + " / one", fn.median / f1.median, "x", 1.05);
    report("station window's CPU while " + label + " are written, share of a core",
           100.0 * cpu / (cpuMs / 1000.0), "%", 5.0);

    // Waiting: every port listed, none with a device that answers.
    std::vector<std::unique_ptr<SimProcess>> silent;
    std::vector<std::string> ports;
    for (int d = 0; d < devices; ++d) {
        silent.push_back(std::make_unique<SimProcess>(std::vector<std::string>{"--silent"}));
        ports.push_back(silent.back()->port());
    }
    station_window::StationEnv env;
    env.asks = &asks;
    env.listPorts = [ports] { return ports; };
    env.sound = false;
    QSettings("tk7v", "tk7v-station").clear();
    station_window::StationWindow window(
        {file, {}, dir.filePath("report.csv"), {}, {}, dir.filePath("ledger.csv")}, env);
    window.start();
    // The ports settle into their waits; then 5 s of waiting, the event loop idle as in use.
    const auto idle = [](std::chrono::milliseconds span) {
        QEventLoop loop;
        QTimer::singleShot(span, &loop, &QEventLoop::quit);
        loop.exec();
    };
    idle(1s);
    const double cpu0 = processCpuSeconds();
    idle(5s);
    report("station window's CPU while " + label + " wait for a device, share of a core",
           100.0 * (processCpuSeconds() - cpu0) / 5.0, "%", 0.5);
    window.stop();
    QSignalSpy ended(&window, &station_window::StationWindow::runEnded);
    ended.wait(10000);
}

// A bench where devices are changed at the cable's end while the adapter stays: the simulator's
// bench mode behind one port, tk7v-cli --loop on it, a device plugged, left until it is done,
// pulled, and the next one plugged after a gap an operator takes (0.3 s to 3 s). From the
// simulator's own clock: how long after each plug the station's first command reached the device,
// and whether every device was programmed with a number of its own.
void benchFigures() {
    QTemporaryDir folder;
    const auto path = [&](const char* name) { return folder.filePath(name).toStdString(); };
    const std::string log = path("sim.log"), file = path("site.cfg");
    {
        ParameterImage image{};
        image.fill(0xFF);
        std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), 512);
    }
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) return;
    const pid_t sim =
        spawn({TK7V_SIM, "--bench", "--baud", "9600", "--log", log, "--log-times"}, [&](auto& fa) {
            posix_spawn_file_actions_adddup2(&fa, in[0], 0);
            posix_spawn_file_actions_adddup2(&fa, out[1], 1);
            posix_spawn_file_actions_addclose(&fa, in[1]);
            posix_spawn_file_actions_addclose(&fa, out[0]);
        });
    ::close(in[0]);
    ::close(out[1]);
    FILE* said = ::fdopen(out[0], "r");
    char line[512];
    if (sim <= 0 || !std::fgets(line, sizeof line, said)) return;
    std::string port = line;
    port.pop_back();
    const std::string results = path("cli.out");
    const pid_t cli =
        spawn({TK7V_CLI, "-q", "write", file, "--port", port, "--loop", "--number", "TS_object_id=101-8191",
               "--report", path("r.csv")},
              [&](auto& fa) {
                  posix_spawn_file_actions_addopen(&fa, 1, results.c_str(), O_WRONLY | O_CREAT, 0644);
                  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
              });
    // Whether the simulator said the change is in effect: one that has gone ends the swaps, and
    // the figures show the devices it missed.
    const auto tell = [&](const char* what) {
        [[maybe_unused]] auto n = ::write(in[1], what, std::strlen(what));
        return std::fgets(line, sizeof line, said) != nullptr;
    };
    const int swaps = 10;
    for (int i = 0; i < swaps; ++i) {
        if (!tell("plug\n")) break;
        std::this_thread::sleep_for(2500ms); // the device's write and check, and the operator's hands
        if (!tell("unplug\n")) break;
        std::this_thread::sleep_for(milliseconds(300 + 2700 * i / (swaps - 1)));
    }
    ::kill(cli, SIGINT);
    ::waitpid(cli, nullptr, 0);
    ::kill(sim, SIGTERM);
    ::waitpid(sim, nullptr, 0);
    ::close(in[1]);
    std::fclose(said);
    std::vector<double> firsts;
    std::ifstream events(log);
    long long plugged = -1;
    for (std::string e; std::getline(events, e);) {
        std::istringstream words(e);
        long long at = 0;
        std::string what;
        words >> at >> what;
        if (what == "PLUG") {
            plugged = at;
        } else if (plugged >= 0 && what != "LOST" && what != "UNPLUG") {
            firsts.push_back((at - plugged) / 1000.0);
            plugged = -1;
        }
    }
    std::ifstream resultsIn(results);
    std::set<std::string> numbers;
    for (std::string r; std::getline(resultsIn, r);)
        if (const auto n = r.find("TS_object_id="); n != std::string::npos) numbers.insert(r.substr(n, 17));
    const Figures f = stats(firsts);
    std::printf("bench swaps (gaps 0.3..3 s): %zu of %d devices programmed, each its own number\n",
                numbers.size(), swaps);
    report("swapped devices programmed with a number of their own", numbers.size(), "", swaps - 0.5, false);
    report("plug to the station's first command, worst of " + std::to_string(firsts.size()), f.max, "ms",
           500);
}

// Runs in a child: the program's window created and shown offscreen, then its peak memory.
int startupProbe(int argc, char** argv) {
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

void startupFigures(const char* self) {
    std::vector<double> ms;
    long rss = 0;
    for (int i = 0; i < kRuns; ++i) {
        const auto t0 = steady_clock::now();
        const std::string cmd = std::string("QT_QPA_PLATFORM=offscreen ") + self + " --startup-probe";
        FILE* p = ::popen(cmd.c_str(), "r");
        char line[64] = {};
        if (!p || !std::fgets(line, sizeof line, p)) {
            report("start-up", 1e9, "ms", 1000);
            return;
        }
        ms.push_back(duration<double, std::milli>(steady_clock::now() - t0).count());
        std::sscanf(line, "shown %ld", &rss);
        ::pclose(p);
    }
    const Figures f = stats(ms);
    std::printf("start-up to the window shown: median %.1f ms (%.1f..%.1f)\n", f.median, f.min, f.max);
    report("start-up to the window shown (median)", f.median, "ms", 1000);
    std::printf("peak resident memory at start-up: %.1f MiB\n", rss / 1024.0);
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--startup-probe") return startupProbe(argc, argv);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // The windows measured here clear and write their settings: they go to a folder of the
    // bench's own, never to the user's.
    QTemporaryDir config;
    ::setenv("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData(), 1);
    QApplication app(argc, argv);
    if (argc > 1 && std::string(argv[1]) == "--station") { // the station window's figures alone
        stationFigures(16);
        return failures ? 1 : 0;
    }
    if (argc > 1 && std::string(argv[1]) == "--swaps") { // a bench's swaps alone
        benchFigures();
        return failures ? 1 : 0;
    }
    if (argc > 1 && std::string(argv[1]) == "--server") { // a ledger on a server alone
        serverFigures();
        return failures ? 1 : 0;
    }
    if (argc > 1 && std::string(argv[1]) == "--cli") { // the command line's station figures alone
        cliFigures(16);
        cliFigures(32);
        return failures ? 1 : 0;
    }
    std::vector<double> gaps;
    for (int turnaround : {0, 5}) {
        workerFigures(turnaround, gaps);
        windowFigures(turnaround);
    }
    std::printf("host turnaround: median %.3f ms, 99th percentile %.3f ms over %zu replies\n",
                percentile(gaps, 0.5), percentile(gaps, 0.99), gaps.size());
    report("host turnaround, 99th percentile", percentile(gaps, 0.99), "ms", 2.0);
    silentDeviceFigures();
    portListFigures();
    cliFigures(16);
    cliFigures(32);
    serverFigures();
    stationFigures(16);
    benchFigures();
    startupFigures(argv[0]);
    std::printf("%s\n", failures ? "SOME GOALS MISSED" : "all goals met");
    return failures ? 1 : 0;
}
