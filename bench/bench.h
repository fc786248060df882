#pragma once
// What every group of figures shares: the wire's bounds, the simulators, how a figure is checked
// against its goal, and how CPU is counted.
#include "common/sim_process.h"
#include "link/tconnect.h"
#include "model/parameter_image.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace tk7v::bench {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using tk7v::test::SimProcess;

constexpr double kByteMs = 10.0 * 1000.0 / 9600.0; // 10 bits a byte at 9600 baud
constexpr int kRuns = 5;
inline const std::string kIdent = "TK7V v2.6 (simulator)";

// Goals missed so far; main's exit status.
inline int failures = 0;

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

inline double MsSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
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
    {opConnect, "identify", 6.0 + static_cast<double>(kIdent.size()) + 1, 1,
     0},                                                                // RESET\r; the line up to its CR
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
    std::printf("%s %-8s turnaround %d ms: median %.1f ms (%.1f..%.1f), lower bound %.1f ms\n", who, e.name,
                turnaround, f.median, f.min, f.max, bound);
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

inline void WriteImage(const std::string& file, const ParameterImage& image) {
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), 512);
}

// Starts `args` (the program first) with its standard streams as `streams` sets them (the file
// actions are destroyed here); its process number, or -1.
pid_t Spawn(std::vector<std::string> args, const std::function<void(posix_spawn_file_actions_t&)>& streams);

// The groups of figures, each in a file of its own.
void WorkerFigures();
void TurnaroundFigures();
void WaitingFigures();
void WindowFigures();
void PortListFigures();
void StartupFigures(const char* self);
int StartupProbe(int argc, char** argv);
void CliFigures(int devices, const std::vector<std::string>& extra = {}, const std::string& how = {});
void ServerFigures();
void SwapFigures();
void StationFigures(int devices);

} // namespace tk7v::bench
