#include "../common/pty.h"
#include "link/serial_port.h"
#include "link/serial_port_posix.h"

#include <gtest/gtest.h>

#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stdlib.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace tk7v;
using namespace std::chrono_literals;

namespace {

using tk7v::test::Pty;

template <class F> auto timed(F f) {
    const auto t0 = std::chrono::steady_clock::now();
    auto r = f();
    return std::make_pair(r, std::chrono::steady_clock::now() - t0);
}

} // namespace

TEST(SerialPort, DefaultSettingsAreRaw9600EightNoneOne) {
    termios t{};
    ASSERT_TRUE(TermiosFor(PortConfig{}, t));
    EXPECT_EQ(cfgetospeed(&t), B9600);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    PortConfig odd;
    odd.baudRate = 12345;
    EXPECT_FALSE(TermiosFor(odd, t));
    // Hardware handshake chosen in the dialog is not applied while RTS belongs to the worker.
    PortConfig rts;
    rts.outxCtsFlow = true;
    ASSERT_TRUE(TermiosFor(rts, t));
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
}

TEST(SerialPort, OpenFailures) {
    SerialPort port;
    auto r = port.open("/dev/tk7v-no-such-port", PortConfig{});
    EXPECT_EQ(r.stage, SerialPort::OpenResult::OpenFailed);
    EXPECT_EQ(r.error.code, static_cast<std::uint32_t>(ENOENT));

    const auto file = std::filesystem::temp_directory_path() / ("tk7v-notatty-" + std::to_string(::getpid()));
    std::ofstream(file) << "x";
    const int holder = ::open(file.c_str(), O_RDONLY); // another program's lock: no port all the same
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    r = port.open(file.string(), PortConfig{});
    ::close(holder);
    std::filesystem::remove(file);
    EXPECT_EQ(r.stage, SerialPort::OpenResult::ConfigFailed);
    EXPECT_EQ(r.error.code, static_cast<std::uint32_t>(ENOTTY));
    EXPECT_FALSE(port.isOpen());
}

TEST(SerialPort, SecondOpenIsBusy) {
    Pty pty;
    SerialPort a, b;
    ASSERT_EQ(a.open(pty.path, PortConfig{}).stage, SerialPort::OpenResult::Opened);
    const auto r = b.open(pty.path, PortConfig{});
    EXPECT_EQ(r.stage, SerialPort::OpenResult::OpenFailed);
    EXPECT_EQ(r.error.code, static_cast<std::uint32_t>(EBUSY));
    EXPECT_FALSE(a.setRts(true)) << "a pseudo-terminal has no modem lines; that is not an error";
    EXPECT_FALSE(a.purge());
    EXPECT_FALSE(a.close());
    EXPECT_EQ(b.open(pty.path, PortConfig{}).stage, SerialPort::OpenResult::Opened);
}

TEST(SerialPort, ReadCompletesOnlyWithAllBytes) {
    Pty pty;
    SerialPort port;
    ASSERT_EQ(port.open(pty.path, PortConfig{}).stage, SerialPort::OpenResult::Opened);
    StopSignal stop;
    std::array<std::uint8_t, 5> got{};
    std::thread device([&] {
        pty.send("ab");
        pty.send("cde");
    });
    EXPECT_EQ(port.read(got, stop).kind, IoStatus::Ok);
    device.join();
    EXPECT_EQ(std::string(got.begin(), got.end()), "abcde");
    const std::array<std::uint8_t, 3> out = {'x', 'y', '\r'};
    EXPECT_EQ(port.write(out, stop).kind, IoStatus::Ok);
    char echo[3];
    ASSERT_EQ(::read(pty.master, echo, 3), 3);
    EXPECT_EQ(std::string(echo, 3), "xy\r");
}

TEST(SerialPort, StopAndCloseEndAWaitAtOnce) {
    Pty pty;
    SerialPort port;
    ASSERT_EQ(port.open(pty.path, PortConfig{}).stage, SerialPort::OpenResult::Opened);
    StopSignal stop;
    std::array<std::uint8_t, 1> b{};
    std::thread stopper([&] { stop.request(); });
    auto [s, took] = timed([&] { return port.read(b, stop); });
    stopper.join();
    EXPECT_EQ(s.kind, IoStatus::Stopped);
    EXPECT_LT(took, 500ms);

    StopSignal never;
    std::thread closer([&] { port.close(); });
    auto [s2, took2] = timed([&] { return port.read(b, never); });
    closer.join();
    EXPECT_NE(s2.kind, IoStatus::Ok);
    EXPECT_LT(took2, 500ms);
    EXPECT_FALSE(port.isOpen());
}

// A reply the worker awaits is taken whole once the line can have carried it, however it came in
// pieces; that wait, which the port's bytes do not end, still ends at once on a stop or a close.
TEST(SerialPort, AnAwaitedReplyIsTakenWholeAndItsWaitEndsAtOnceOnAStopOrAClose) {
    Pty pty;
    SerialPort port;
    ASSERT_EQ(port.open(pty.path, PortConfig{}).stage, SerialPort::OpenResult::Opened);
    StopSignal stop;
    std::array<std::uint8_t, 64> got{};
    std::size_t n = 0;
    port.expect(5, 30ms, 1s);
    std::thread device([&] {
        pty.send("ab");
        pty.send("cde");
    });
    EXPECT_EQ(port.readSome(got, stop, n).kind, IoStatus::Ok);
    device.join();
    EXPECT_EQ(std::string(got.begin(), got.begin() + static_cast<long>(n)), "abcde");

    for (const bool byClose : {false, true}) {
        StopSignal ending;
        port.expect(5, 10s, 10s);
        std::thread ender([&] { byClose ? (void)port.close() : ending.request(); });
        auto [s, took] = timed([&] { return port.readSome(got, ending, n); });
        ender.join();
        EXPECT_NE(s.kind, IoStatus::Ok) << byClose;
        EXPECT_LT(took, 500ms) << byClose;
    }
}

TEST(SerialPort, HangUpIsReportedOnce) {
    Pty pty;
    SerialPort port;
    ASSERT_EQ(port.open(pty.path, PortConfig{}).stage, SerialPort::OpenResult::Opened);
    pty.closeMaster();
    StopSignal stop;
    std::array<std::uint8_t, 1> b{};
    auto [s, took] = timed([&] { return port.read(b, stop); });
    EXPECT_EQ(s.kind, IoStatus::Failed);
    EXPECT_EQ(s.code, static_cast<std::uint32_t>(EIO));
    EXPECT_LT(took, 1s);
    const std::array<std::uint8_t, 1> out = {'x'};
    EXPECT_EQ(port.write(out, stop).kind, IoStatus::Failed);
}

TEST(SerialPort, LowLatencyIsAskedOfTheDriver) {
    // A driver that knows the request: it is read, the flag added and written back.
    static std::vector<unsigned long> requests;
    static int flagsWritten = 0;
    requests.clear();
    auto serialDriver = [](int, unsigned long request, void* arg) {
        requests.push_back(request);
        auto* ss = static_cast<serial_struct*>(arg);
        if (request == TIOCGSERIAL) ss->flags = 0x10;
        if (request == TIOCSSERIAL) flagsWritten = ss->flags;
        return 0;
    };
    EXPECT_TRUE(RequestLowLatency(3, serialDriver));
    EXPECT_EQ(requests, (std::vector<unsigned long>{TIOCGSERIAL, TIOCSSERIAL}));
    EXPECT_EQ(flagsWritten, 0x10 | ASYNC_LOW_LATENCY);
    // A driver that does not know it: nothing is written.
    requests.clear();
    auto otherDriver = [](int, unsigned long request, void*) {
        requests.push_back(request);
        errno = ENOTTY;
        return -1;
    };
    EXPECT_FALSE(RequestLowLatency(3, otherDriver));
    EXPECT_EQ(requests, (std::vector<unsigned long>{TIOCGSERIAL}));
}

TEST(SerialPort, LowLatencyRefusedByAPseudoTerminalIsHarmless) {
    // Tests never touch this machine's real UARTs (one may be its console), so only the refusal
    // is tried here.
    Pty pty;
    SerialPort port;
    ASSERT_EQ(port.open(pty.path, PortConfig{}).stage, SerialPort::OpenResult::Opened);
    EXPECT_FALSE(port.lowLatencyRequested());
}

namespace {

// Calls of a close, in order; a drain that never ends until the output is discarded.
struct CloseLog {
    static inline std::vector<std::string> calls;
    static inline bool stuck = false;
    static inline std::mutex mutex;
    static inline std::condition_variable flushed;
    static inline bool wasFlushed = false;
    static void note(const char* c) {
        std::lock_guard lock(mutex);
        calls.push_back(c);
    }
    static const CloseCalls& ops() {
        static const CloseCalls c{
            [](int) { return note("dup"), 99; },
            [](int) {
                note("drain");
                std::unique_lock lock(mutex);
                flushed.wait(lock, [] { return !stuck || wasFlushed; });
                return 0;
            },
            [](int) {
                note("flush");
                std::lock_guard lock(mutex);
                wasFlushed = true;
                flushed.notify_all();
                return 0;
            },
            [](int, const termios&) { return note("restore"), 0; },
            [](int fd) { return note(fd == 99 ? "close dup" : "close"), 0; },
        };
        return c;
    }
};

} // namespace

TEST(SerialPort, CloseDrainsBeforeRestoringAndABlockedDrainIsBounded) {
    for (const bool stuck : {false, true}) {
        SCOPED_TRACE(stuck ? "adapter that never drains" : "adapter that drains");
        CloseLog::calls.clear();
        CloseLog::stuck = stuck;
        CloseLog::wasFlushed = false;
        const auto [rc, took] = timed([] { return CloseAfterDrain(7, termios{}, 200ms, CloseLog::ops()); });
        EXPECT_EQ(rc, 0);
        const std::vector<std::string> expected =
            stuck ? std::vector<std::string>{"dup", "drain", "flush", "close dup", "restore", "close"}
                  : std::vector<std::string>{"dup", "drain", "close dup", "restore", "close"};
        EXPECT_EQ(CloseLog::calls, expected);
        EXPECT_LT(took, stuck ? 1000ms : 200ms);
        if (stuck) {
            EXPECT_GE(took, 200ms);
        }
    }
}
