// tk7v-cli end to end: the program itself against tk7v-sim on pseudo-terminals, and on files
// made by the model's own code.
#include "../common/sim_process.h"
#include "link/serial_port.h"
#include "model/parameter_image.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>

using namespace tk7v;
using tk7v::test::SimProcess;
namespace fs = std::filesystem;

namespace {

struct Ran {
    int status = -1;
    std::string out, err;
};

// Starts tk7v-cli with its output going to files in `dir`; finish() waits and collects.
class Cli {
public:
    Cli(const fs::path& dir, std::vector<std::string> args) : dir_(dir) {
        args.insert(args.begin(), TK7V_CLI);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, (dir / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&fa, 2, (dir / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (posix_spawn(&pid_, TK7V_CLI, &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
    }
    pid_t pid() const { return pid_; }
    Ran finish() {
        Ran r;
        int status = 0;
        if (pid_ > 0 && ::waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status))
            r.status = WEXITSTATUS(status);
        r.out = slurp(dir_ / "out");
        r.err = slurp(dir_ / "err");
        return r;
    }
    static std::string slurp(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

private:
    fs::path dir_;
    pid_t pid_ = -1;
};

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tk7v-cli-test-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    Ran run(std::vector<std::string> args) { return Cli(dir_, std::move(args)).finish(); }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    static std::vector<std::uint8_t> bytes(const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static void put(const std::string& p, const std::vector<std::uint8_t>& b) {
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    }
    fs::path dir_;
};

} // namespace

TEST_F(CliTest, ReadThenWriteWithVerifyToTwoDevicesAtOnce) {
    SimProcess source, a, b;
    ASSERT_EQ(run({"read", source.port(), "-o", path("read.cfg")}).status, 0);
    // The same 512 bytes the window saves after a read: the device's parameters as the controls
    // hold them, built again.
    const auto device = source.memory();
    const auto read = bytes(path("read.cfg"));
    ASSERT_EQ(read.size(), 512u);
    EXPECT_TRUE(std::equal(device.begin() + 2, device.begin() + 238, read.begin() + 2));
    EXPECT_TRUE(std::all_of(read.begin() + 238, read.end(), [](auto x) { return x == 0xFF; }));

    ASSERT_EQ(run({"set", path("read.cfg"), "CS1_phone_2=8 (495) 123-45-67", "RS_newpaf_on=NEWPAF", "-o",
                   path("new.cfg")})
                  .status,
              0);
    const Ran w = run({"write", path("new.cfg"), "--port", a.port(), "--port", b.port(), "--verify"});
    EXPECT_EQ(w.status, 0) << w.out << w.err;
    EXPECT_NE(w.out.find(a.port() + ": записано и проверено"), std::string::npos) << w.out;
    const auto written = bytes(path("new.cfg"));
    for (SimProcess* s : {&a, &b}) {
        const auto m = s->memory();
        EXPECT_TRUE(std::equal(m.begin(), m.end(), written.begin()));
        EXPECT_TRUE(s->log().ends_with("RESET\n"));
    }
}

TEST_F(CliTest, VerifyNamesTheFieldTheDeviceChanged) {
    SimProcess stuck({"--stuck", "5=99"}); // CS1_hand_time
    ASSERT_EQ(run({"new", "-o", path("start.cfg")}).status, 0);
    const Ran w = run({"write", stuck.port(), path("start.cfg"), "--verify"});
    EXPECT_EQ(w.status, 1);
    EXPECT_NE(w.out.find("CS1_hand_time (Ожидать HANDSHAKE, сек. (5-30)): в устройстве 99, в файле 10"),
              std::string::npos)
        << w.out;
    const Ran v = run({"verify", stuck.port(), path("start.cfg")});
    EXPECT_EQ(v.status, 1);
    EXPECT_NE(v.out.find("в устройстве 99"), std::string::npos);
}

TEST_F(CliTest, CtrlCStopsEveryWriteCleanly) {
    SimProcess a({"--baud", "2400"}), b({"--baud", "2400"});
    ASSERT_EQ(run({"new", "-o", path("start.cfg")}).status, 0);
    Cli cli(dir_, {"write", path("start.cfg"), "--port", a.port(), "--port", b.port()});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (b.log().find("WRITE 26 @01A") == std::string::npos && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    ::kill(cli.pid(), SIGINT);
    const Ran r = cli.finish();
    EXPECT_EQ(r.status, 130);
    EXPECT_NE(r.out.find("часть блока"), std::string::npos) << r.out;
    for (SimProcess* s : {&a, &b}) {
        // A half command would have swallowed the RESET as data. The paced simulator may still be
        // taking the last bytes in.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!s->log().ends_with("RESET\n") && std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
        EXPECT_TRUE(s->log().ends_with("RESET\n")) << s->log();
        EXPECT_EQ(SerialPort().open(s->port(), PortConfig{}).stage, SerialPort::OpenResult::Opened);
    }
}

TEST_F(CliTest, BadInputIsOneMessageAndNoChangedFile) {
    SimProcess sim;
    SerialPort holder;
    ASSERT_EQ(run({"new", "-o", path("ok.cfg")}).status, 0);
    const auto before = bytes(path("ok.cfg"));
    put(path("short.cfg"), std::vector<std::uint8_t>(511, 0));
    const struct {
        std::vector<std::string> args;
        int status;
        std::string message;
    } cases[] = {
        {{"set", path("ok.cfg"), "NO_SUCH=1"}, 2, "Неизвестное поле: NO_SUCH"},
        {{"set", path("ok.cfg"), "CS1_hand_time=1a"},
         2,
         "Ошибка при обработке данных: '1a' не является разрешённым числовым значением."},
        {{"set", path("ok.cfg"), "CS1_hand_time=123"}, 2, "длиннее 2"},
        {{"set", path("ok.cfg"), "CS1_active=maybe"}, 2, "ожидается 1 или 0"},
        {{"show", path("short.cfg")}, 3, "Неверный размер файла настроек: 511 байт."},
        {{"show", path("none.cfg")}, 3, "Файл не найден"},
        {{"write", path("ok.cfg")}, 2, "Не задан порт"},
        {{"identify", path("no-such-port")}, 1, "Невозможно подключиться к порту"},
        {{"frobnicate"}, 2, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + (c.args.size() > 2 ? c.args[2] : ""));
        const Ran r = run(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE((r.out + r.err).find(c.message), std::string::npos) << r.out << r.err;
    }
    EXPECT_EQ(bytes(path("ok.cfg")), before);
    // A port that another program holds.
    ASSERT_EQ(holder.open(sim.port(), PortConfig{}).stage, SerialPort::OpenResult::Opened);
    const Ran busy = run({"identify", sim.port()});
    EXPECT_EQ(busy.status, 1);
    EXPECT_NE(busy.out.find("Порт занят"), std::string::npos) << busy.out;
}

TEST_F(CliTest, ShowDiffAndSetAsTheWindowWouldShowThem) {
    ASSERT_EQ(run({"new", "-o", path("start.cfg")}).status, 0);
    const auto start = bytes(path("start.cfg"));
    const ParameterImage image = StartupImage();
    EXPECT_TRUE(std::equal(start.begin(), start.end(), image.begin()));

    const Ran shown = run({"show", path("start.cfg"), "--json"});
    ASSERT_EQ(shown.status, 0);
    const auto json = nlohmann::json::parse(shown.out);
    EXPECT_EQ(json.size(), ImageLayout().size());
    EXPECT_EQ(json["CS2_kissoff_time"]["value"], "3");
    EXPECT_EQ(json["CS1_active"]["value"], true);
    EXPECT_EQ(json["TS_tone_dial_on"]["value"], "Импульс");
    EXPECT_EQ(json["RS_packets"]["hidden"], true);
    EXPECT_EQ(json["CS1_phone_1"]["caption"], "Телефон №1");

    ASSERT_EQ(
        run({"set", path("start.cfg"), "CS1_phone_1=8,,8001234567", "TS_object_id=$1F", "-o", path("b.cfg")})
            .status,
        0);
    const Ran d = run({"diff", path("start.cfg"), path("b.cfg"), "--json"});
    EXPECT_EQ(d.status, 1);
    const auto diffs = nlohmann::json::parse(d.out);
    ASSERT_EQ(diffs.size(), 2u);
    EXPECT_EQ(diffs[0]["field"], "CS1_phone_1");
    EXPECT_EQ(diffs[0]["second"], "8,,8001234567");
    EXPECT_EQ(diffs[1]["field"], "TS_object_id");
    EXPECT_EQ(diffs[1]["second"], "31");
    EXPECT_EQ(run({"diff", path("b.cfg"), path("b.cfg")}).status, 0);
}

// File names in any script, with spaces, are made, read and named as given.
TEST_F(CliTest, FileNamesInAnyScript) {
    for (const std::string name : {"объект.cfg", "имя с пробелами.cfg", "日本 ✓ Ελλάδα.cfg"}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(run({"new", "-o", path(name)}).status, 0);
        EXPECT_EQ(bytes(path(name)).size(), 512u);
        EXPECT_EQ(run({"set", path(name), "CS1_phone_1=8001234567"}).status, 0);
        const Ran shown = run({"show", path(name)});
        EXPECT_EQ(shown.status, 0);
        EXPECT_NE(shown.out.find("CS1_phone_1 (Телефон №1): 8001234567"), std::string::npos) << shown.out;
        const Ran missing = run({"show", path("нет " + name)});
        EXPECT_EQ(missing.status, 3);
        EXPECT_NE(missing.err.find(path("нет " + name) + ": Файл не найден"), std::string::npos)
            << missing.err;
    }
}
