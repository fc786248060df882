// tk7v-cli on several ports at once, on a port whose settings another program chose, with
// long device texts, interrupted, and with files it cannot read or write.
#include "../common/pty.h"
#include "../common/sim_process.h"
#include "cli_run.h"

#include <gtest/gtest.h>

#include <sstream>
#include <sys/stat.h>
#include <termios.h>

using namespace tk7v;
using namespace std::chrono_literals;
using tk7v::test::Cli;
using tk7v::test::Ran;
using tk7v::test::SimProcess;
using tk7v::test::waitUntil;
using CliPorts = tk7v::test::CliFixture;
namespace fs = std::filesystem;

namespace {

constexpr auto npos = std::string::npos;

// A pseudo-terminal whose port side the test holds open as another program left it: 4800 baud,
// two stop bits, odd parity, a line discipline that is not raw. The test plays the device.
struct HeldPort : tk7v::test::Pty {
    HeldPort() {
        port = ::open(path.c_str(), O_RDWR | O_NOCTTY);
        termios t = now();
        t.c_cflag |= CSTOPB | PARODD;
        ::cfsetspeed(&t, B4800);
        ::tcsetattr(port, TCSANOW, &t);
    }
    ~HeldPort() { ::close(port); }
    termios now() const {
        termios t{};
        ::tcgetattr(port, &t);
        return t;
    }
    // Takes what the program sends until `text` has come, for at most 5 s.
    bool awaits(const std::string& text) {
        std::string got;
        for (pollfd p{master, POLLIN, 0}; got.find(text) == npos && ::poll(&p, 1, 5000) == 1;) {
            char b[64];
            const ssize_t n = ::read(master, b, sizeof b);
            if (n <= 0) return false;
            got.append(b, static_cast<std::size_t>(n));
        }
        return got.find(text) != npos;
    }
    int port = -1;
};

// When the simulator logged its first and its last command (it was started with --log-times).
std::pair<long long, long long> firstAndLast(const SimProcess& sim) {
    std::istringstream log(sim.log());
    std::vector<long long> times;
    for (std::string line; std::getline(log, line);)
        times.push_back(std::stoll(line));
    return times.empty() ? std::pair{0LL, 0LL} : std::pair{times.front(), times.back()};
}

// Windows-1251 in UTF-8, written out here letter by letter so the system's converter is not
// its own judge.
std::string fromWindows1251(const std::string& bytes) {
    const std::string letters = "АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдежзийклмнопрстуфхцчшщъыьэюя";
    std::string out;
    for (const unsigned char b : bytes)
        out += b < 0x80    ? std::string(1, static_cast<char>(b))
               : b >= 0xC0 ? letters.substr((b - 0xC0) * 2u, 2)
               : b == 0xA8 ? "Ё"
               : b == 0xB8 ? "ё"
               : b == 0xB9 ? "№"
                           : "\uFFFD";
    return out;
}

} // namespace

TEST_F(CliPorts, OnePortFailingNeitherStopsNorHidesTheOthers) {
    // Two devices paced at the wire's speed, a port that is not there, a device that dies while
    // it is read.
    SimProcess first({"--baud", "9600", "--log-times"}), second({"--baud", "9600", "--log-times"});
    SimProcess dying({"--die-after", "3"});
    const std::string missing = path("no-such-port");
    const Ran r = run({"read", "-o", path("{port}.cfg"), "--port", first.port(), "--port", missing, "--port",
                       dying.port(), "--port", second.port()});
    EXPECT_EQ(r.status, 1);
    for (const SimProcess* s : {&first, &second}) {
        const std::string file = path(s->port().substr(s->port().rfind('/') + 1) + ".cfg");
        EXPECT_NE(r.out.find(s->port() + ": прочитано в " + file), npos) << r.out;
        const auto memory = s->memory(), read = bytes(file);
        ASSERT_EQ(read.size(), 512u);
        EXPECT_TRUE(std::equal(memory.begin(), memory.begin() + 238, read.begin()));
    }
    // Each failure said once, in its own words: "ошибка" goes only before the system's words.
    EXPECT_NE(r.err.find(missing + ": Невозможно подключиться к порту"), npos) << r.err;
    EXPECT_NE(r.err.find(dying.port() + ": Ошибка ввода-вывода: устройство отключено или не отвечает"), npos)
        << r.err;
    EXPECT_EQ(r.err.find("ошибка: "), npos) << r.err;
    // At the same time: each device had its first command before the other had its last.
    const auto [firstBegan, firstEnded] = firstAndLast(first);
    const auto [secondBegan, secondEnded] = firstAndLast(second);
    EXPECT_LT(firstBegan, secondEnded);
    EXPECT_LT(secondBegan, firstEnded);
}

TEST_F(CliPorts, CtrlCWhileWaitingOnASilentDeviceEndsAtOnce) {
    const struct {
        std::vector<std::string> sim, command;
        const char* lastLogged; // the command the device leaves unanswered
    } cases[] = {
        {{"--silent"}, {"identify"}, "RESET"},
        {{"--mute-after", "3"}, {"read", "-o", path("x.cfg")}, "READ 26 @034"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command[0]);
        SimProcess sim(c.sim);
        auto args = c.command;
        args.insert(args.end(), {"--port", sim.port(), "--timeout", "600"});
        Cli cli(args);
        ASSERT_TRUE(waitUntil([&] { return sim.log().find(c.lastLogged) != npos; }));
        ::kill(cli.pid(), SIGINT);
        const Ran r = cli.finish(3s);
        EXPECT_EQ(r.status, 130) << r.out << r.err;
        EXPECT_NE(r.err.find(sim.port() + ": прервано"), npos) << r.err;
        EXPECT_TRUE(waitUntil([&] { return sim.log().ends_with("RESET\n"); }, 5s)) << sim.log();
    }
}

TEST_F(CliPorts, LineSettingsReachThePortAndTheEarlierOnesComeBack) {
    // What a pseudo-terminal keeps of the settings: the speed, the stop bits, which parity (not
    // whether parity is on, nor the data bits; those are the link's own test).
    constexpr tcflag_t kKept = CSTOPB | PARODD | CMSPAR;
    const struct {
        std::vector<std::string> options;
        speed_t speed;
        tcflag_t flags;
    } cases[] = {
        {{}, B9600, 0},
        {{"--baud", "19200", "--parity", "odd", "--stop-bits", "2"}, B19200, PARODD | CSTOPB},
        {{"--parity", "mark", "--data-bits", "7"}, B9600, PARODD | CMSPAR},
        {{"--parity", "space", "--stop-bits", "1.5"}, B9600, CMSPAR | CSTOPB},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.options));
        HeldPort held;
        const termios before = held.now();
        auto args = c.options;
        args.insert(args.begin(), {"identify", held.path});
        Cli cli(args);
        ASSERT_TRUE(held.awaits("RESET\r"));
        const termios during = held.now();
        EXPECT_EQ(::cfgetospeed(&during), c.speed);
        EXPECT_EQ(during.c_cflag & kKept, c.flags);
        ASSERT_EQ(::write(held.master, "TK7V\r\n", 6), 6);
        const Ran r = cli.finish(10s);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        const termios after = held.now();
        EXPECT_EQ(::cfgetospeed(&after), B4800);
        EXPECT_EQ(after.c_cflag & kKept, before.c_cflag & kKept);
        EXPECT_EQ(after.c_lflag, before.c_lflag);
    }
}

TEST_F(CliPorts, LongCyrillicIdentificationLinesArriveWhole) {
    std::string alphabet;
    for (int b = 0xC0; b <= 0xFF; ++b)
        alphabet += static_cast<char>(b);
    const std::string lines[] = {
        "TK7V " + alphabet + alphabet + alphabet,
        "TK7V \xA8\xB8\xB9 " + std::string(123, '\xDF') + "\x98" + alphabet,
        "TK7V " + std::string(300, '\xC6'), // longer than the 256 bytes kept of a line
    };
    for (const std::string& line : lines) {
        SimProcess sim({"--ident", line});
        const Ran r = run({"identify", sim.port()});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, sim.port() + ": " + fromWindows1251(line.substr(0, 256)) + "\n");
    }
}

TEST_F(CliPorts, FilesThatCannotBeReadOrWrittenGiveThree) {
    SimProcess sim;
    ASSERT_EQ(run({"new", "-o", path("ok.cfg")}).status, 0);
    fs::create_directories(path("folder.cfg"));
    ASSERT_EQ(::mkfifo(path("pipe.cfg").c_str(), 0600), 0);
    const std::string nowhere = path("no/such/folder/x.cfg");
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"write", path("none.cfg"), "--port", sim.port()}, "Файл не найден"},
        {{"verify", sim.port(), path("folder.cfg")}, "folder.cfg — это папка"},
        {{"write", sim.port(), path("pipe.cfg")}, "pipe.cfg — это не файл, а устройство или канал"},
        {{"show", "/dev/null"}, "/dev/null — это не файл, а устройство"},
        {{"read", sim.port(), "-o", nowhere}, "Ошибка открытия файла: нет такой папки или файла"},
        {{"read", sim.port(), "-o", path("folder.cfg")}, "folder.cfg — это папка"},
        {{"set", path("ok.cfg"), "RS_packets=4", "-o", nowhere}, "Ошибка открытия файла: нет такой папки"},
        {{"new", "-o", path("folder.cfg")}, "folder.cfg — это папка"},
        {{"new", "-o", "/dev/null"}, "/dev/null — это не файл, а устройство"},
        {{"set", path("ok.cfg"), "--from", path("folder.cfg")}, "folder.cfg — это папка"},
        {{"set", path("ok.cfg"), "--from", path("none.json")}, "none.json: Файл не найден"},
        {{"write", path("ok.cfg"), "--port", sim.port(), "--values", path("folder.cfg")}, " — это папка"},
        {{"write", path("ok.cfg"), "--port", sim.port(), "--values", "/dev/null"}, " — это не файл"},
        {{"write", path("ok.cfg"), "--port", sim.port(), "--report", path("folder.cfg")}, " — это папка"},
        {{"write", path("ok.cfg"), "--port", sim.port(), "--report", path("no/r.csv")},
         "no/r.csv: отчёт не открывается для записи: нет такой папки или файла"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        const Ran r = run(c.args);
        EXPECT_EQ(r.status, 3);
        EXPECT_NE((r.out + r.err).find(c.says), npos) << r.out << r.err;
    }
    EXPECT_EQ(sim.log().find("WRITE"), npos) << sim.log();
}

// Run as an unprivileged user in CI (scripts/run-unprivileged).
TEST_F(CliPorts, FilesThisUserMayNotReadOrWriteGiveThree) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads and writes any file";
    SimProcess sim;
    ASSERT_EQ(run({"new", "-o", path("locked.cfg")}).status, 0);
    fs::permissions(path("locked.cfg"), fs::perms::none);
    fs::create_directories(path("ro"));
    fs::permissions(path("ro"), fs::perms::owner_read | fs::perms::owner_exec);
    const Ran write = run({"write", path("locked.cfg"), "--port", sim.port()});
    EXPECT_EQ(write.status, 3);
    // A file that cannot be opened says why, not that it has 0 bytes.
    EXPECT_NE(write.err.find("locked.cfg: Ошибка открытия файла: доступ запрещён"), npos) << write.err;
    EXPECT_EQ(sim.log().find("WRITE"), npos) << sim.log();
    const Ran read = run({"read", sim.port(), "-o", path("ro/x.cfg")});
    EXPECT_EQ(read.status, 3);
    EXPECT_NE(read.err.find("прочитано, но не записано: " + path("ro/x.cfg") +
                            ": Ошибка открытия файла: доступ запрещён"),
              npos)
        << read.err;
    fs::permissions(path("ro"), fs::perms::owner_all);
}
