// tk7v-sim: a ТК-7В on a pseudo-terminal, for trying the configurator without a device.
//
// It prints the path of the port to open, then lets the device model (tools/sim/device.h) answer
// what the program sends, at the line's pace. With --bench the port stays while devices are
// plugged and unplugged behind it by commands on standard input, as at a bench where the USB
// adapter stays and devices are changed at the cable's end. This file is the pseudo-terminal's
// side alone: the port, its poll loop, signals, the --link name and the hand-over after sudo.
#include "bench.h"
#include "options.h"
#include "pace.h"
#include "records.h"

#include <cerrno>
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

using namespace tk7v::sim;

namespace {

volatile std::sig_atomic_t gStop = 0;
int gWakePipe[2] = {-1, -1};

void onSignal(int) {
    gStop = 1;
    const char c = 0;
    [[maybe_unused]] auto n = ::write(gWakePipe[1], &c, 1);
}

// The program's end of the line is the pseudo-terminal's master side.
class PortEnd : public LineEnd {
public:
    PortEnd(int fd, const Records& records) : fd_(fd), records_(records) {}

    Clock::time_point toProgram(const std::string& bytes, Clock::time_point) override {
        const char* p = bytes.data();
        std::size_t n = bytes.size();
        // A stop request ends a write that nobody reads (the line is full once the other side
        // has closed the port), so the simulator always ends when asked.
        while (n > 0 && !gStop) {
            const ssize_t w = ::write(fd_, p, n);
            if (w < 0) {
                if (errno == EINTR) continue;
                if (errno == EAGAIN) {
                    pollfd pf[2] = {{fd_, POLLOUT, 0}, {gWakePipe[0], POLLIN, 0}};
                    ::poll(pf, 2, -1);
                    continue;
                }
                break;
            }
            p += w;
            n -= static_cast<std::size_t>(w);
        }
        return Clock::now();
    }
    void note(const std::string& line) override { records_.note(line); }
    void answeredAfter(std::chrono::microseconds gap) override { records_.answeredAfter(gap); }
    void died() override { ::_exit(3); }

private:
    int fd_;
    const Records& records_;
};

// Reads what standard input has for the bench and carries out each whole line. False once the
// input has ended: its last line, even without an end, is carried out, and the line stays as it
// is.
bool readCommands(Bench& bench, std::string& pending) {
    char chunk[256];
    const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
    if (n > 0)
        pending.append(chunk, static_cast<std::size_t>(n));
    else
        pending += '\n';
    for (auto eol = pending.find('\n'); eol != std::string::npos; eol = pending.find('\n')) {
        const std::optional<Bench::Ack> ack = bench.command(pending.substr(0, eol));
        pending.erase(0, eol + 1);
        if (!ack) continue;
        if (!ack->why.empty()) std::fprintf(stderr, "tk7v-sim: %s\n", ack->why.c_str());
        std::printf("%s\n", ack->line.c_str());
        std::fflush(stdout);
    }
    return n > 0;
}

// Started through sudo, the port would be root's (mode 620), and the user who ran sudo, whose
// configurator is to open it, could not. The port goes to that user and group instead.
void handToSudoUser(int port) {
    if (::geteuid() != 0) return;
    const auto id = [](const char* name, long& into) {
        const char* text = std::getenv(name);
        if (!text || !*text) return false;
        char* end = nullptr;
        errno = 0;
        into = std::strtol(text, &end, 10);
        return errno == 0 && *end == 0 && into >= 0;
    };
    long uid = 0, gid = 0;
    if (!id("SUDO_UID", uid)) return;
    const gid_t group = id("SUDO_GID", gid) ? static_cast<gid_t>(gid) : static_cast<gid_t>(-1);
    if (::fchown(port, static_cast<uid_t>(uid), group) != 0)
        std::fprintf(stderr, "tk7v-sim: не удалось передать порт пользователю %ld: %s\n", uid,
                     std::strerror(errno));
}

} // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_MESSAGES, ""); // the system's error texts in the user's language
    Options o;
    if (!ParseArgs(argc, argv, o)) return 2;
    // Asked before the port is made: with standard input closed, the port would take its number.
    bool commands = o.bench && ::fcntl(STDIN_FILENO, F_GETFD) != -1;

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        std::fprintf(stderr, "tk7v-sim: не удалось создать псевдотерминал: %s\n", std::strerror(errno));
        return 1;
    }
    const std::string slavePath = ::ptsname(master);
    // Hold the port side open ourselves: the line stays up while the configurator closes and
    // reopens it, and it is raw from the start (no echo of commands back to the sender).
    const int slave = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        std::fprintf(stderr, "tk7v-sim: не удалось открыть порт %s: %s\n", slavePath.c_str(),
                     std::strerror(errno));
        return 1;
    }
    handToSudoUser(slave);
    termios t{};
    ::tcgetattr(slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

    if (::pipe2(gWakePipe, O_CLOEXEC) != 0) return 1;
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    if (!o.linkPath.empty()) {
        // A link to a port that still exists belongs to another simulator: leave it alone.
        char target[256] = {};
        const ssize_t n = ::readlink(o.linkPath.c_str(), target, sizeof target - 1);
        if (n > 0 && ::access(target, F_OK) == 0) {
            std::fprintf(stderr, "tk7v-sim: %s занята другим имитатором (%s)\n", o.linkPath.c_str(), target);
            o.linkPath.clear();
        } else {
            ::unlink(o.linkPath.c_str());
        }
    }
    if (!o.linkPath.empty()) {
        if (::symlink(slavePath.c_str(), o.linkPath.c_str()) != 0) {
            std::fprintf(stderr, "tk7v-sim: не удалось создать ссылку %s: %s\n", o.linkPath.c_str(),
                         std::strerror(errno));
            o.linkPath.clear();
        }
    }
    // The memory file is there before the port is named: whoever waits for the name may read it.
    const Records records(o.logFile, o.logTimes, o.timingFile);
    Bench bench(InitialMemory(o.memoryFile), o.faults, o.saveFile);
    if (o.bench) bench.note = [&records](const std::string& line) { records.note(line); };
    if (!o.bench || o.plugged) bench.plug(0);
    PortEnd end(master, records);
    Pace pace(o.baud, std::chrono::milliseconds(o.faults.turnaroundMs), end);
    std::printf("%s\n", slavePath.c_str());
    std::fflush(stdout);

    // Packet mode tells this side when the program purges its output, so that bytes still in
    // the transmit queue can be dropped as a real port drops them.
    const int packet = 1;
    const bool purgesSeen = ::ioctl(master, TIOCPKT, &packet) == 0;
    std::uint8_t buf[4096];
    std::string pending;
    while (!gStop) {
        const std::shared_ptr<Device> device = bench.device();
        // The bench's commands are read only after the port's bytes of the same moment, so that
        // what the program sent before a command is heard or lost as the line was then.
        pollfd p[3] = {
            {master, POLLIN, 0}, {gWakePipe[0], POLLIN, 0}, {commands ? STDIN_FILENO : -1, POLLIN, 0}};
        const bool feedIdent = device && device->endlessIdent() && !pace.sending();
        const std::optional<Clock::duration> due = feedIdent ? Clock::duration::zero()
                                                   : device  ? pace.nextDue(Clock::now())
                                                             : std::nullopt;
        timespec timeout{};
        if (due) {
            const auto ns = std::chrono::ceil<std::chrono::nanoseconds>(*due).count();
            timeout = {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
        }
        if (::ppoll(p, 3, due ? &timeout : nullptr, nullptr) < 0 && errno != EINTR) break;
        if (gStop) break;
        if (device) pace.step(*device, Clock::now());
        if (p[0].revents & POLLIN) {
            const ssize_t n = ::read(master, buf, sizeof buf);
            const std::uint8_t* data = buf;
            std::size_t size = 0;
            if (n > 0 && !purgesSeen) {
                size = static_cast<std::size_t>(n);
            } else if (n > 0 && buf[0] == TIOCPKT_DATA) {
                data = buf + 1;
                size = static_cast<std::size_t>(n - 1);
            } else if (n > 0 && (buf[0] & TIOCPKT_FLUSHWRITE) && device) {
                pace.outputPurged(*device, Clock::now());
            }
            if (size > 0 && device) pace.written(*device, {data, size}, Clock::now());
            // Nobody hears what is sent to a line with no device on it.
            if (size > 0 && !device) records.note("LOST " + std::to_string(size));
        }
        // An input that fails (POLLNVAL included) ends the commands, so it cannot keep waking the loop.
        if (p[2].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) {
            const int before = bench.changes();
            commands = readCommands(bench, pending);
            // The device is gone with all it had not sent yet, a reply half-sent included; the
            // bytes that crossed the cable before stay in the adapter for the program to read.
            if (bench.changes() != before) pace.restart();
        }
        if (bench.device() && bench.device()->endlessIdent() && !pace.sending())
            pace.sendEndlessChunk(*bench.device(), Clock::now());
    }
    bench.save();
    if (!o.linkPath.empty()) {
        char target[256] = {};
        if (::readlink(o.linkPath.c_str(), target, sizeof target - 1) > 0 && slavePath == target)
            ::unlink(o.linkPath.c_str());
    }
    ::close(slave);
    ::close(master);
    return 0;
}
