#pragma once
// What every group of figures shares: the wire's bounds, the simulators, how a figure is timed and
// checked against its goal, and how CPU is counted.
#include "common/sim_process.h"
#include "link/tconnect.h"
#include "model/parameter_image.h"

#include <cmath>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/resource.h>

namespace tk7v::bench {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using tk7v::test::SimProcess;

constexpr double kByteMs = 10.0 * 1000.0 / 9600.0; // 10 bits a byte at 9600 baud
constexpr int kRuns = 5;
inline const std::string kIdent = "TK7V v2.6 (simulator)";

inline int failures = 0; // goals missed so far; main's exit status

struct Figures {
    double median, min, max;
};

inline Figures Stats(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v.front(), v.back()};
}

inline double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(std::ceil(p * v.size())) - 1)];
}

// "median 1.0 ms (0.9..1.2)", to `digits` decimals.
inline std::string Median(const Figures& f, int digits = 1) {
    char s[128];
    std::snprintf(s, sizeof s, "median %.*f ms (%.*f..%.*f)", digits, f.median, digits, f.min, digits, f.max);
    return s;
}

inline double MsSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

inline double TimeMs(const std::function<void()>& f) {
    const auto t0 = Clock::now();
    f();
    return MsSince(t0);
}

// What `f` returns, `n` times over.
inline std::vector<double> Repeat(int n, const std::function<double()>& f) {
    std::vector<double> v;
    for (int i = 0; i < n; ++i)
        v.push_back(f());
    return v;
}

inline void Report(const std::string& what, double value, const char* unit, double goal, bool below = true) {
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
inline const Exchange kExchanges[] = {
    // RESET\r; the line up to its CR
    {opConnect, "identify", 6.0 + static_cast<double>(kIdent.size()) + 1, 1, 0},
    {opRead, "read", 10 * 6 + 9 * (6 + 26 + 1) + (6 + 4 + 1), 10, 100}, // 368
    {opWrite, "write", 20 * 7 + 512 + 20 * 4, 20, 100},                 // chunks; "OK\r\n" each
};

inline double LowerBoundMs(const Exchange& e, int turnaroundMs) {
    return e.bytes * kByteMs + e.replies * turnaroundMs + e.pausesMs;
}

// One exchange's times from `who` (the worker, the window) against its lower bound.
inline void ExchangeFigures(const char* who, const Exchange& e, int turnaround,
                            const std::vector<double>& ms) {
    const Figures f = Stats(ms);
    const double bound = LowerBoundMs(e, turnaround);
    std::printf("%s %-8s turnaround %d ms: %s, lower bound %.1f ms\n", who, e.name, turnaround,
                Median(f).c_str(), bound);
    if (e.op != opConnect)
        Report(std::string(who) + " " + e.name + " / lower bound, turnaround " + std::to_string(turnaround) +
                   " ms",
               f.median / bound, "x", 1.10);
}

inline std::vector<std::string> SimArgs(int turnaround, std::vector<std::string> more = {}) {
    std::vector<std::string> a = {"--baud",  "9600", "--turnaround", std::to_string(turnaround),
                                  "--ident", kIdent};
    a.insert(a.end(), more.begin(), more.end());
    return a;
}

// `count` simulators (with no turnaround unless `args` say), their ports into `ports`; they yield
// to the program measured, whose own CPU is the figure.
inline std::vector<std::unique_ptr<SimProcess>> StartSims(int count, std::vector<std::string>& ports,
                                                          const std::vector<std::string>& args = SimArgs(0)) {
    std::vector<std::unique_ptr<SimProcess>> sims;
    for (int d = 0; d < count; ++d) {
        sims.push_back(std::make_unique<SimProcess>(args));
        ::setpriority(PRIO_PROCESS, sims.back()->pid(), 10);
        ports.push_back(sims.back()->port());
    }
    return sims;
}

inline double CpuSeconds(const rusage& r) {
    return r.ru_utime.tv_sec + r.ru_stime.tv_sec + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

inline double ProcessCpuSeconds() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return CpuSeconds(r);
}

// Many devices programmed at once against one alone, `runs` times over fresh simulators: `run` times
// the program on the ports given and, when asked, counts the CPU seconds it took. The one device is
// the first of the many, unless `apart`: a station leaves alone a device that holds its
// configuration already, so there it is one more.
struct Scaling {
    Figures one, many;
    double cpuShare; // while the many are programmed, share of a core
};
inline Scaling OneAgainstMany(int runs, int devices, bool apart,
                              const std::function<double(const std::vector<std::string>&, double*)>& run) {
    std::vector<double> one, many;
    double cpu = 0, cpuMs = 0;
    for (int i = 0; i < runs; ++i) {
        std::vector<std::string> ports;
        const auto sims = StartSims(devices + (apart ? 1 : 0), ports);
        one.push_back(run({ports[0]}, nullptr));
        if (apart) ports.erase(ports.begin());
        double seconds = 0;
        many.push_back(run(ports, &seconds));
        cpu += seconds;
        cpuMs += many.back();
    }
    return {Stats(one), Stats(many), 100.0 * cpu / (cpuMs / 1000.0)};
}

inline void WriteImage(const std::string& file, const ParameterImage& image) {
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), 512);
}

// Starts `args` (the program first) with its standard streams as `streams` sets them; its process
// number, or -1.
inline pid_t Spawn(std::vector<std::string> args,
                   const std::function<void(posix_spawn_file_actions_t&)>& streams) {
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    streams(fa);
    pid_t pid = -1;
    const bool failed = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0;
    posix_spawn_file_actions_destroy(&fa);
    return failed ? -1 : pid;
}

// The groups of figures, each kind in a file of its own.
void WorkerFigures();
void TurnaroundFigures();
void WaitingFigures();
void WindowFigures();
void PortListFigures();
void StartupFigures(const char* self);
int StartupProbe(int argc, char** argv);
void CliFigures(int devices, const std::vector<std::string>& extra = {}, const std::string& how = {});
void ServerFigures();
void LedgerFigures();
// In a process of its own: one claim on the ledger at `where`; prints its time in ms.
int ClaimProbe(const char* where);
void SwapFigures();
void StationFigures(int devices);

} // namespace tk7v::bench
