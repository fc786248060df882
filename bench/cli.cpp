// tk7v-cli as a programming station runs it: write --verify on one device and on many at once,
// with a ledger on a server of the bench's own.
#include "bench.h"

#include "station/numbering.h"

#include <sys/wait.h>

namespace tk7v::bench {

namespace {

int cliFailures = 0; // runs of tk7v-cli that did not end with 0: their times prove nothing

// tk7v-cli write --verify on `ports`, from the start of the process to its end, and the CPU time
// of the command line itself (its own child's, not the simulators').
double RunCli(const std::vector<std::string>& ports, const std::string& file, double* cpuSeconds,
              const std::vector<std::string>& extra) {
    std::vector<std::string> args = {TK7V_CLI, "-q", "write", file, "--verify"};
    args.insert(args.end(), extra.begin(), extra.end());
    for (const auto& p : ports)
        args.insert(args.end(), {"--port", p});
    const auto t0 = Clock::now();
    const pid_t pid =
        Spawn(args, [](auto& fa) { posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0); });
    int status = -1;
    rusage used{};
    if (pid > 0) ::wait4(pid, &status, 0, &used);
    const double ms = MsSince(t0);
    if (status != 0) {
        std::fprintf(stderr, "tk7v-cli failed: %d\n", status);
        ++cliFailures;
    }
    if (cpuSeconds) *cpuSeconds = CpuSeconds(used);
    return ms;
}

} // namespace

// `devices` written at once by one tk7v-cli, against one device alone; `extra`, its options
// (a ledger, numbers), named by `how`.
void CliFigures(int devices, const std::vector<std::string>& extra, const std::string& how) {
    const std::string file = (std::filesystem::temp_directory_path() / "tk7v-bench.cfg").string();
    WriteImage(file, StartupImage());
    const double bound = LowerBoundMs(kExchanges[1], 0) + LowerBoundMs(kExchanges[2], 0);
    // The machine's load over the last minute: figures taken beside other work are not comparable.
    const auto loadAverage = [] {
        double load = 0;
        std::ifstream("/proc/loadavg") >> load;
        return load;
    };
    const double loadBefore = loadAverage();
    const Scaling s = OneAgainstMany(kRuns, devices, false, [&](const auto& ports, double* cpu) {
        return RunCli(ports, file, cpu, extra);
    });
    const double load = std::max(loadBefore, loadAverage());
    std::printf("tk7v-cli write --verify, one device: %s, write + read bound %.1f ms\n",
                Median(s.one).c_str(), bound);
    std::printf("tk7v-cli write --verify, %d devices: %s\n", devices, Median(s.many).c_str());
    if (load > 1.0)
        std::printf(
            "note: the machine was busy (load average %.2f): the station figures are not comparable\n", load);
    Report("cli write --verify, runs that failed", cliFailures, "", 1);
    Report("cli write --verify, one device / (write + read bound)", s.one.median / bound, "x", 1.05);
    const std::string label = std::to_string(devices) + " devices" + how;
    Report("cli write --verify, " + label + " / one", s.many.median / s.one.median, "x", 1.05);
    Report("cli's own CPU while " + label + " are written, share of a core", s.cpuShare, "%", 5.0);
    std::filesystem::remove(file);
}

// A ledger on a PostgreSQL server of the bench's own (scripts/test-postgres): one claim's time
// on the loopback, and sixteen devices numbered from it against one.
void ServerFigures() {
    const std::string dir = (std::filesystem::temp_directory_path() / "tk7v-bench-postgres").string();
    const std::string script = std::string(TK7V_SOURCE) + "/scripts/test-postgres";
    const auto server = [&](const std::string& what) {
        return std::system((script + " " + what + " " + dir + " >/dev/null 2>&1").c_str()) == 0;
    };
    server("stop"); // one an interrupted bench left
    if (!server("start")) return Report("ledger server started", 0, "", 1, false);
    std::string uri;
    std::getline(std::ifstream(dir + "/uri"), uri);
    std::string error;
    const auto ledger = tk7v::station::OpenLedger(uri, {}, std::chrono::seconds(5), error);
    const tk7v::station::Numbering numbering({}, tk7v::station::Counter{"TS_object_id", 1, 8191});
    const auto ms = Repeat(ledger ? 200 : 0, [&] {
        ParameterImage image = StartupImage();
        const auto t0 = Clock::now();
        const auto claim = numbering.claim(*ledger, {}, image);
        const double ms = MsSince(t0);
        if (claim.outcome != tk7v::station::Numbering::Claim::Outcome::Given) error = claim.error;
        return ms;
    });
    if (!error.empty()) std::fprintf(stderr, "ledger server: %s\n", error.c_str());
    const Figures f = Stats(ms);
    std::printf("claim on a server over the loopback: %s over %zu claims\n", Median(f, 2).c_str(), ms.size());
    Report("claim on a server ledger, median", error.empty() ? f.median : 1e9, "ms", 20.0);
    CliFigures(16, {"--ledger", uri, "--number", "TS_object_id=1-8191"}, " with a server ledger");
    server("stop");
}

} // namespace tk7v::bench
