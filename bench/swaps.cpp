// tk7v-cli --loop on a bench where devices are changed at the cable's end while the adapter stays:
// the simulator's bench mode behind one port, played as an operator's hands play it. From the
// simulator's own clock, how long after each plug the station's first command reached the device:
// the first device after the station starts, devices swapped later, and a device plugged just
// after another was pulled in the middle of its write; and whether each was programmed with a
// number of its own.
#include "bench.h"

#include <QTemporaryDir>

#include <cstring>
#include <limits>
#include <set>
#include <sstream>

namespace tk7v::bench {

namespace {

// A child's output read line by line as it comes, so that the bench waits for what it needs (a
// command in the simulator's log, a device's result) with a deadline, not for a guessed time.
struct LineReader {
    explicit LineReader(int f) : fd(f) {}
    int fd;
    std::vector<std::string> lines;
    std::string partial;
    std::size_t looked = 0;
    ~LineReader() { ::close(fd); }

    // False when `within` passes or the output ends before a line not yet looked at is `wanted`.
    bool waitFor(const std::function<bool(const std::string&)>& wanted, Clock::duration within) {
        const auto deadline = Clock::now() + within;
        for (;;) {
            while (looked < lines.size())
                if (wanted(lines[looked++])) return true;
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            pollfd p{fd, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) return false;
            char buf[4096];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0) return false;
            partial.append(buf, static_cast<std::size_t>(n));
            for (std::size_t eol; (eol = partial.find('\n')) != std::string::npos; partial.erase(0, eol + 1))
                lines.push_back(partial.substr(0, eol));
        }
    }
};

bool Any(const std::string&) {
    return true;
}
bool None(const std::string&) {
    return false;
} // read on to the end, once the writer has ended

// The word after a log line's time: PLUG, UNPLUG, LOST, or the command the device heard.
std::string What(const std::string& logLine, long long* at = nullptr) {
    std::istringstream words(logLine);
    long long time = 0;
    std::string what;
    words >> time >> what;
    if (at) *at = time;
    return what;
}

bool IsCommand(const std::string& logLine) {
    const std::string w = What(logLine);
    return !w.empty() && w != "PLUG" && w != "UNPLUG" && w != "LOST";
}

bool Programmed(const std::string& result) {
    return result.find("записано и проверено") != result.npos;
}

enum Plug { kFirst, kSwap, kAfterPull };

// One start of the station and what the operator then does: the first device plugged
// `firstPlugS` after the start; with `pullAfterWrites`, it is pulled once it has heard that many
// write commands and a new one plugged 0.6 s later; then `swaps` more, each plugged after a gap
// of 0.3 s to 3 s once the one before was programmed and pulled. A start with nothing after its
// first plug ends at the device's first command.
struct Session {
    double firstPlugS;
    int pullAfterWrites;
    int swaps;
};

// The station started ten times, its first device coming at moments spread over its probing;
// four first devices pulled early, midway, late and at the last chunk of their write; one start
// going on with ten swaps.
constexpr Session kSessions[] = {{0.2, 0, 10}, {1.5, 1, 0}, {4.0, 7, 0}, {7.0, 14, 0}, {0.2, 19, 0},
                                 {1.5, 0, 0},  {4.0, 0, 0}, {0.6, 0, 0}, {2.3, 0, 0},  {3.1, 0, 0}};

constexpr double kMissed = std::numeric_limits<double>::infinity();

// By the kind of plug, and by whether the start had a pull (the devices after a pull apart).
struct Outcome {
    std::vector<double> firstsMs[3]; // plug to first command
    double programmed[2] = {};       // devices with a number of their own
    double expected[2] = {};
};

void Run(const Session& s, Outcome& o) {
    QTemporaryDir folder;
    const auto path = [&](const char* name) { return folder.filePath(name).toStdString(); };
    const std::string file = path("site.cfg");
    ParameterImage image{};
    image.fill(0xFF);
    WriteImage(file, image);
    // Close-on-exec, so that each child holds only its own ends and each output ends with its writer.
    int in[2], out[2], log[2], said[2];
    for (int* p : {in, out, log, said})
        if (::pipe2(p, O_CLOEXEC) != 0) return o.firstsMs[kFirst].push_back(kMissed);
    // The log on the simulator's standard error, read as it is written.
    const pid_t sim =
        Spawn({TK7V_SIM, "--bench", "--baud", "9600", "--log", "-", "--log-times"}, [&](auto& fa) {
            posix_spawn_file_actions_adddup2(&fa, in[0], 0);
            posix_spawn_file_actions_adddup2(&fa, out[1], 1);
            posix_spawn_file_actions_adddup2(&fa, log[1], 2);
        });
    for (int fd : {in[0], out[1], log[1]})
        ::close(fd);
    LineReader acks{out[0]}, events{log[0]};
    if (sim <= 0 || !acks.waitFor(Any, 5s)) return o.firstsMs[kFirst].push_back(kMissed);
    const pid_t cli = Spawn({TK7V_CLI, "-q", "write", file, "--port", acks.lines[0], "--loop", "--number",
                             "TS_object_id=101-8191", "--report", path("r.csv"), "--ledger", path("r.csv")},
                            [&](auto& fa) {
                                posix_spawn_file_actions_adddup2(&fa, said[1], 1);
                                posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
                            });
    const auto started = Clock::now();
    ::close(said[1]);
    LineReader results{said[0]};

    std::vector<Plug> plugs;
    const bool pulls = s.pullAfterWrites > 0;
    // Whether the simulator said the change is in effect: one that did not ends the session, and
    // the figures show the devices it missed.
    const auto tell = [&](const char* what) {
        const std::size_t before = acks.lines.size();
        [[maybe_unused]] auto n = ::write(in[1], what, std::strlen(what));
        return acks.waitFor(Any, 2s) && acks.lines.size() > before && !acks.lines.back().starts_with("error");
    };
    const auto plug = [&](Plug kind) {
        plugs.push_back(kind);
        return tell("plug\n");
    };
    const auto programmed = [&] { return ++o.expected[pulls], results.waitFor(Programmed, 10s); };
    std::this_thread::sleep_until(started + std::chrono::duration<double>(s.firstPlugS));
    bool ok = plug(kFirst);
    if (ok && pulls) {
        int writes = 0;
        const auto written = [&](const std::string& e) {
            return What(e) == "WRITE" && ++writes == s.pullAfterWrites;
        };
        ok = events.waitFor(written, 5s) && tell("unplug\n");
        std::this_thread::sleep_for(600ms);
        ok = ok && plug(kAfterPull);
    }
    if (ok && !pulls && s.swaps == 0)
        ok = events.waitFor(IsCommand, 5s);
    else if (ok)
        ok = programmed();
    for (int i = 0; ok && i < s.swaps; ++i) {
        std::this_thread::sleep_for(300ms); // the operator reads the result and pulls the device
        ok = tell("unplug\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(300 + 2700 * i / std::max(1, s.swaps - 1)));
        ok = ok && plug(kSwap) && programmed();
    }

    // A simulator that ended on its own explains the devices missed.
    int status = 0;
    const bool simEnded = ::waitpid(sim, &status, WNOHANG) == sim;
    if (simEnded)
        std::fprintf(stderr, "tk7v-sim ended by itself: %s %d\n", WIFSIGNALED(status) ? "signal" : "status",
                     WIFSIGNALED(status) ? WTERMSIG(status) : WEXITSTATUS(status));
    ::kill(cli, SIGINT);
    ::waitpid(cli, nullptr, 0);
    if (!simEnded) ::kill(sim, SIGTERM), ::waitpid(sim, nullptr, 0);
    ::close(in[1]);
    results.waitFor(None, 2s);
    events.waitFor(None, 2s);
    // Each plug to the first command after it; a plug that no command followed counts as missed.
    std::size_t k = 0;
    long long plugged = -1;
    const auto note = [&](double ms) {
        if (k > 0 && k <= plugs.size()) o.firstsMs[plugs[k - 1]].push_back(ms);
        plugged = -1;
    };
    for (const std::string& e : events.lines) {
        long long at = 0;
        const std::string what = What(e, &at);
        if (plugged >= 0 && (what == "PLUG" || what == "UNPLUG")) note(kMissed);
        if (what == "PLUG")
            plugged = at, ++k;
        else if (plugged >= 0 && IsCommand(e))
            note((at - plugged) / 1000.0);
    }
    if (plugged >= 0) note(kMissed);
    std::set<std::string> numbers;
    for (const std::string& r : results.lines)
        if (const auto n = r.find("TS_object_id="); n != r.npos && Programmed(r))
            numbers.insert(r.substr(n, 17));
    o.programmed[pulls] += numbers.size();
}

} // namespace

void SwapFigures() {
    // A simulator gone mid-session must not end the bench at its next command.
    std::signal(SIGPIPE, SIG_IGN);
    Outcome o;
    for (const Session& s : kSessions)
        Run(s, o);
    const auto n = [&](Plug kind) { return std::to_string(o.firstsMs[kind].size()); };
    std::printf(
        "bench swaps: %s starts, %s swaps (gaps 0.3..3 s), %s pulls mid-write (next plugged 0.6 s later)\n",
        n(kFirst).c_str(), n(kSwap).c_str(), n(kAfterPull).c_str());
    Report("swapped devices programmed with a number of their own", o.programmed[0], "", o.expected[0] - 0.5,
           false);
    Report("devices plugged after a pull mid-write, programmed", o.programmed[1], "", o.expected[1] - 0.5,
           false);
    const auto worst = [&](Plug kind, const std::string& what, double goalMs) {
        const auto& ms = o.firstsMs[kind];
        Report(what + ", worst of " + n(kind), ms.empty() ? kMissed : *std::max_element(ms.begin(), ms.end()),
               "ms", goalMs);
    };
    worst(kFirst, "plug to first command, first after a start", 500);
    worst(kSwap, "plug to first command, later swaps", 500);
    worst(kAfterPull, "pull mid-write, next plug to its command", 1000);
}

} // namespace tk7v::bench
