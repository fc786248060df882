// The worker over the real serial layer, against tk7v-sim on a pseudo-terminal.
#include "../common/sim_process.h"
#include "link/serial_port.h"
#include "link/tconnect.h"
#include "recording_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

using namespace tk7v;
using namespace std::chrono_literals;
using tk7v::test::RecordingHost;
using tk7v::test::SimProcess;

namespace {

struct Link {
    explicit Link(SimProcess& sim) {
        const auto r = port.open(sim.port(), PortConfig{});
        EXPECT_EQ(r.stage, SerialPort::OpenResult::Opened) << r.error.code;
    }
    // Runs one exchange; `during` runs on this thread while the worker works.
    template <class F = void (*)()>
    void exchange(
        Operation op, F during = [] {}) {
        port.purge();
        done.reset();
        operation = op;
        TConnect worker(port, operation, done, host);
        host.worker = &worker;
        worker.Start();
        during();
        worker.Join();
        lastWorkerError = worker.LastError();
    }
    SerialPort port;
    std::atomic<int> operation{opIdle};
    ManualResetEvent done;
    RecordingHost host{done};
    std::uint32_t lastWorkerError = 0;
};

} // namespace

TEST(Simulator, IdentifyReadWrite) {
    SimProcess sim({"--preamble", "boot 1.2", "--ident", "TK7V 2.6"});
    Link link(sim);
    link.exchange(opConnect);
    EXPECT_EQ(link.host.statuses.back(), "Установлена связь c устройством: TK7V 2.6");

    link.exchange(opRead);
    ASSERT_EQ(link.host.delivered.size(), 1u);
    const auto memory = sim.memory();
    ASSERT_EQ(memory.size(), 512u);
    for (std::size_t i = 0; i < 238; ++i)
        ASSERT_EQ(link.host.delivered[0][i], memory[i]) << i;

    for (std::size_t i = 0; i < 512; ++i)
        link.host.toWrite[i] = static_cast<std::uint8_t>(i ^ 0x5A);
    link.exchange(opWrite);
    EXPECT_EQ(link.host.statuses.back(), "Операция записи выполнена успешно.");
    const auto written = sim.memory();
    EXPECT_TRUE(std::equal(written.begin(), written.end(), link.host.toWrite.begin()));
    EXPECT_TRUE(link.host.errors.empty());
}

TEST(Simulator, SilentDeviceStopsAtOnce) {
    SimProcess sim({"--silent"});
    Link link(sim);
    std::chrono::steady_clock::duration took{};
    link.exchange(opRead, [&] {
        // Wait for the worker to be waiting on the device: its first command reached the log.
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (sim.log().find("READ") == std::string::npos && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        const auto t0 = std::chrono::steady_clock::now();
        link.host.worker->RequestStop();
        link.done.wait(5s);
        took = std::chrono::steady_clock::now() - t0;
    });
    EXPECT_LT(took, 50ms);
    EXPECT_EQ(link.host.statuses.back(), "Операция отменена.");
}

TEST(Simulator, RejectedChunksAreRetried) {
    SimProcess sim({"--reject", "3"});
    Link link(sim);
    link.host.toWrite.fill(0x33);
    link.exchange(opWrite);
    EXPECT_EQ(std::count(link.host.statuses.begin(), link.host.statuses.end(), "Ошибка записи!"), 3);
    const auto memory = sim.memory();
    EXPECT_TRUE(std::all_of(memory.begin(), memory.end(), [](std::uint8_t b) { return b == 0x33; }));
}

TEST(Simulator, KilledMidTransferIsAnErrorThenCancelled) {
    SimProcess sim({"--die-after", "4"});
    Link link(sim);
    link.exchange(opRead);
    EXPECT_EQ(link.host.errors, std::vector<std::uint32_t>{EIO});
    EXPECT_EQ(link.lastWorkerError, static_cast<std::uint32_t>(EIO));
    EXPECT_EQ(link.host.statuses.back(), "Операция отменена.");
    EXPECT_TRUE(link.host.delivered.empty());
}

namespace {

// When the simulator logged the n-th line (from 0; from the end when negative) that contains
// `what`, on the monotonic clock both processes share.
std::chrono::steady_clock::time_point loggedAt(const std::string& log, const std::string& what, int n) {
    std::vector<long long> times;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);)
        if (line.find(what) != std::string::npos) times.push_back(std::stoll(line));
    EXPECT_FALSE(times.empty()) << what;
    if (times.empty()) return {};
    const auto i = n >= 0 ? static_cast<std::size_t>(n) : times.size() - static_cast<std::size_t>(-n);
    return std::chrono::steady_clock::time_point(std::chrono::microseconds(times.at(i)));
}

} // namespace

TEST(Simulator, PausesTheDeviceReliesOn) {
    SimProcess sim({"--log-times", "--reject", "1"});
    Link link(sim);
    link.exchange(opRead);
    ASSERT_EQ(link.host.deliveredTimes.size(), 1u);
    // After the last reply of a read, before the block is handed over.
    EXPECT_GE(link.host.deliveredTimes[0] - loggedAt(sim.log(), "READ 4 @0EA", -1), 100ms);

    link.exchange(opWrite);
    const std::string log = sim.log();
    // After a rejected chunk, before it is sent again.
    EXPECT_GE(loggedAt(log, "WRITE 26 @000", 1) - loggedAt(log, "WRITE 26 @000 REJECTED", 0), 100ms);
    // After the last chunk, before the success text.
    ASSERT_EQ(link.host.statuses.back(), "Операция записи выполнена успешно.");
    EXPECT_GE(link.host.statusTimes.back() - loggedAt(log, "WRITE 18 @1EE", -1), 100ms);
}

// Under sudo the simulator's port goes to the user who ran sudo, who can then open it; anything
// else keeps the port as the system made it.
TEST(Simulator, UnderSudoThePortGoesToTheCallingUser) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can hand a pseudo-terminal to another user";
    constexpr uid_t kOther = 65534; // nobody
    // This run's own sudo, if any, is no case here (and as root the tests open any port anyway).
    ::unsetenv("SUDO_UID");
    ::unsetenv("SUDO_GID");
    struct Case {
        const char* uid;
        const char* gid;
        uid_t owner;
        gid_t group;
    };
    // The group the system makes pseudo-terminals in ("tty"), as the simulator's own port shows.
    gid_t systemGroup = 0;
    {
        SimProcess plain;
        struct stat st {};
        ASSERT_EQ(::stat(plain.port().c_str(), &st), 0);
        systemGroup = st.st_gid;
    }
    for (const Case c : {Case{"65534", "65534", kOther, kOther}, Case{"65534", nullptr, kOther, systemGroup},
                         Case{nullptr, "65534", 0, systemGroup}, Case{"nobody", "65534", 0, systemGroup},
                         Case{"", "", 0, systemGroup}}) {
        SCOPED_TRACE(std::string("SUDO_UID=") + (c.uid ? c.uid : "(unset)") +
                     " SUDO_GID=" + (c.gid ? c.gid : "(unset)"));
        c.uid ? ::setenv("SUDO_UID", c.uid, 1) : ::unsetenv("SUDO_UID");
        c.gid ? ::setenv("SUDO_GID", c.gid, 1) : ::unsetenv("SUDO_GID");
        SimProcess sim;
        ::unsetenv("SUDO_UID");
        ::unsetenv("SUDO_GID");
        struct stat st {};
        ASSERT_EQ(::stat(sim.port().c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, c.owner);
        EXPECT_EQ(st.st_gid, c.group);
        if (c.owner != kOther) continue;
        // The other user's own configurator opens it.
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(kOther) != 0 || ::setuid(kOther) != 0) ::_exit(100);
            ::_exit(::open(sim.port().c_str(), O_RDWR | O_NOCTTY) >= 0 ? 0 : errno);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "open as the other user: " << status;
    }
}

namespace {

// A pipe's or a port's incoming bytes, read up to an expected end with a deadline.
struct Incoming {
    // What came up to and including `end`; all that came if `end` does not come within a few
    // seconds.
    std::string until(const std::string& end) {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        for (auto at = pending.find(end); at == std::string::npos; at = pending.find(end)) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd p{fd, POLLIN, 0};
            char chunk[256];
            const ssize_t n = left.count() > 0 && ::poll(&p, 1, static_cast<int>(left.count())) > 0
                                  ? ::read(fd, chunk, sizeof chunk)
                                  : 0;
            if (n <= 0) return std::exchange(pending, {});
            pending.append(chunk, static_cast<std::size_t>(n));
        }
        const auto size = pending.find(end) + end.size();
        std::string got = pending.substr(0, size);
        pending.erase(0, size);
        return got;
    }
    std::string line() {
        std::string got = until("\n");
        if (!got.empty() && got.back() == '\n') got.pop_back();
        return got;
    }
    int fd = -1;
    std::string pending;
};

// tk7v-sim --bench driven as an operator's script drives it: each command on its standard input
// waited for by the line that acknowledges it. Its log comes on its standard error, so that the
// test can wait for a line of it too.
class BenchSim {
public:
    explicit BenchSim(std::vector<std::string> args) : dir_(tk7v::test::FreshFolder("tk7v-bench")) {
        const char* copy = std::getenv("TK7V_SIM");
        const std::string program = copy ? copy : TK7V_SIM;
        args.insert(args.begin(),
                    {program, "--bench", "--save", (dir_ / "dev-{n}.bin").string(), "--log", "-"});
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int in[2], out[2], err[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, in[0], 0);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        posix_spawn_file_actions_adddup2(&fa, err[1], 2);
        const int spawned = posix_spawn(&pid_, program.c_str(), &fa, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        ::close(in[0]), ::close(out[1]), ::close(err[1]);
        in_ = in[1], out_.fd = out[0], err_.fd = err[0];
        if (spawned != 0) throw std::runtime_error("spawn");
        port_ = out_.line();
        if (port_.empty()) throw std::runtime_error("tk7v-sim did not start");
    }
    ~BenchSim() {
        stop();
        ::close(out_.fd), ::close(err_.fd);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    const std::string& port() const { return port_; }
    const std::filesystem::path& dir() const { return dir_; }

    // Gives one command; the line that acknowledges it, or nothing if none came in time.
    std::string command(const std::string& text) {
        const std::string line = text + "\n";
        if (::write(in_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return {};
        return out_.line();
    }

    // Waits until the log has noted `n` bytes sent to a line with no device on it.
    bool lost(std::size_t n) {
        std::size_t total = 0;
        for (std::string line; total < n; log_.push_back(line)) {
            line = err_.line();
            if (line.empty()) return false;
            if (line.rfind("LOST ", 0) == 0) total += std::stoul(line.substr(5));
        }
        return total == n;
    }

    // Ends the simulator and returns its whole log.
    std::vector<std::string> stop() {
        if (pid_ <= 0) return log_;
        ::close(in_);
        ::kill(pid_, SIGTERM);
        const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
        pollfd p{pidfd, POLLIN, 0};
        if (pidfd >= 0 && ::poll(&p, 1, 5000) == 0) ::kill(pid_, SIGKILL);
        if (pidfd >= 0) ::close(pidfd);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
        for (std::string line = err_.line(); !line.empty(); line = err_.line())
            log_.push_back(line);
        return log_;
    }

private:
    std::filesystem::path dir_;
    pid_t pid_ = -1;
    int in_ = -1;
    Incoming out_, err_;
    std::string port_;
    std::vector<std::string> log_;
};

// The program's end of the port, raw as the simulator set it up.
struct PortEnd : Incoming {
    explicit PortEnd(const std::string& path) {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        EXPECT_GE(fd, 0) << path;
    }
    ~PortEnd() {
        if (fd >= 0) ::close(fd);
    }
    PortEnd(const PortEnd&) = delete;
    PortEnd& operator=(const PortEnd&) = delete;
    void send(const std::string& bytes) const {
        EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
};

std::vector<std::uint8_t> fileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

// A bench: the port stays while devices are changed behind it. Whatever the program sends with no
// device on the line is lost, and each new device starts from the factory memory.
TEST(Simulator, BenchChangesDevicesBehindOnePort) {
    const std::string ident = "TK7V bench\r\n";
    const std::string written = "xc010=\x01\x02\x03\r";
    const std::string readBack = "xc010\r";
    const std::string factory = std::string("xc010=\x08\x0A\x0A") + "\r"; // the number's first digits
    BenchSim sim({"--ident", "TK7V bench"});
    PortEnd port(sim.port());
    // Nothing on the line yet. Each answer below must be the first thing heard after its
    // command: a reply to a command sent to an empty line would come before it.
    port.send("RESET\r");
    ASSERT_TRUE(sim.lost(6));
    ASSERT_EQ(sim.command("plug"), "plugged 1");
    port.send("RESET\r");
    EXPECT_EQ(port.until(ident), ident);
    port.send(written);
    EXPECT_EQ(port.until("OK\r\n"), "OK\r\n");
    port.send(readBack);
    EXPECT_EQ(port.until("\r"), written);

    ASSERT_EQ(sim.command("unplug"), "unplugged 1");
    port.send("RESET\r" + std::string("xc010=\t\t\t\r"));
    ASSERT_TRUE(sim.lost(16));
    ASSERT_EQ(sim.command("plug"), "plugged 2");
    port.send(readBack);
    EXPECT_EQ(port.until("\r"), factory);

    // Device 1 plugged back has the memory it was unplugged with.
    ASSERT_EQ(sim.command("unplug"), "unplugged 2");
    ASSERT_EQ(sim.command("plug 1"), "plugged 1");
    port.send(readBack);
    EXPECT_EQ(port.until("\r"), written);

    const std::vector<std::string> changes = {"PLUG 1", "UNPLUG 1", "PLUG 2", "UNPLUG 2", "PLUG 1"};
    std::vector<std::string> noted;
    for (const std::string& line : sim.stop())
        if (line.rfind("PLUG ", 0) == 0 || line.rfind("UNPLUG ", 0) == 0) noted.push_back(line);
    EXPECT_EQ(noted, changes);

    // Each device's memory in a file of its own.
    EXPECT_EQ(fileBytes(sim.dir() / "dev-1.bin").at(16), 1);
    EXPECT_EQ(fileBytes(sim.dir() / "dev-2.bin").at(16), 8);
}

// The stop tests rely on the simulator cutting a chunk that a purge did not wait for, as a real
// port's purge throws away what it has not sent: without that they would pass whatever the
// purge did. Written straight to the port behind a RESET, the chunk is on the line once the
// identification starts to come back; purged then, it never reaches the device whole.
TEST(Simulator, APurgeThrowsAwayWhatHasNotCrossedTheLine) {
    SimProcess sim({"--baud", "1200"}); // 8 ms a byte: the chunk takes a quarter of a second
    const int fd = ::open(sim.port().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const std::string data(26, 'N');
    const std::string first = "RESET\r" + std::string("xz000=") + data + "\r",
                      then = std::string(33, '\r') + "RESET\r";
    // Takes what the device sends until `enough` says so, for five seconds at most.
    std::string heard;
    const auto hearUntil = [&](auto enough) {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (!enough() && std::chrono::steady_clock::now() < deadline) {
            pollfd p{fd, POLLIN, 0};
            char buffer[64];
            const ssize_t n = ::poll(&p, 1, 100) == 1 ? ::read(fd, buffer, sizeof buffer) : 0;
            heard.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
        }
        return enough();
    };
    ASSERT_EQ(::write(fd, first.data(), first.size()), static_cast<ssize_t>(first.size()));
    EXPECT_TRUE(hearUntil([&] { return !heard.empty(); }));
    ::tcflush(fd, TCOFLUSH);
    // Whatever head reached the device takes these as its data; then the device answers again.
    ASSERT_EQ(::write(fd, then.data(), then.size()), static_cast<ssize_t>(then.size()));
    EXPECT_TRUE(hearUntil([&] { return heard.find("TK7V", heard.find("TK7V") + 1) != std::string::npos; }))
        << heard;
    ::close(fd);
    const auto memory = sim.memory();
    EXPECT_NE(std::string(memory.begin(), memory.end()).substr(0, 26), data);
}
