// tk7v-cli end to end: the program itself against tk7v-sim on pseudo-terminals, and on files
// made by the model's own code.
#include "../common/file_policy_cases.h"
#include "../common/sim_process.h"
#include "cli_run.h"
#include "link/serial_port.h"
#include "model/parameter_image.h"
#include "station/sha256.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/file.h>

using namespace tk7v;
using namespace std::chrono_literals;
using tk7v::test::SimProcess;
namespace fs = std::filesystem;

using CliTest = tk7v::test::CliFixture;
using tk7v::test::Cli;
using tk7v::test::Ran;
using tk7v::test::waitUntil;
constexpr auto npos = std::string::npos;

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
    EXPECT_NE(w.out.find(a.port() + ": записано и проверено"), npos) << w.out;
    const auto written = bytes(path("new.cfg"));
    for (SimProcess* s : {&a, &b}) {
        const auto m = s->memory();
        EXPECT_TRUE(std::equal(m.begin(), m.end(), written.begin()));
        // The simulator may log the last command after the tool has ended.
        EXPECT_TRUE(waitUntil([&] { return s->log().ends_with("RESET\n"); }, 5s)) << s->log();
    }
}

TEST_F(CliTest, ReadHoldsOnlyWhatEachDeviceSentForEachByte) {
    // Devices that put something else on the line before a read command's own reply, each at
    // the wire's pace, all read at once; a fresh set each round.
    ASSERT_EQ(run({"new", "-o", path("memory.cfg")}).status, 0);
    ASSERT_EQ(run({"set", path("memory.cfg"), "TS_object_id=4321", "CS2_phone_3=8,,4951234567"}).status, 0);
    const std::vector<std::vector<std::string>> faults = {
        {"--stale", "OK"}, {"--wild-replies"}, {"--short-replies"}, {"--long-replies"}};
    const auto memory = bytes(path("memory.cfg"));
    for (int round = 0; round < 3; ++round) {
        std::vector<std::unique_ptr<SimProcess>> sims;
        std::vector<std::string> args = {"read", "-o", path("{port}.cfg")};
        for (auto fault : faults) {
            fault.insert(fault.end(), {"--baud", "9600", "--memory", path("memory.cfg")});
            sims.push_back(std::make_unique<SimProcess>(fault));
            args.insert(args.end(), {"--port", sims.back()->port()});
        }
        const Ran r = run(args);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        for (std::size_t i = 0; i < sims.size(); ++i) {
            SCOPED_TRACE(faults[i][0]);
            const std::string port = sims[i]->port();
            const auto read = bytes(path(port.substr(port.rfind('/') + 1) + ".cfg"));
            ASSERT_EQ(read.size(), 512u);
            EXPECT_TRUE(std::equal(memory.begin(), memory.begin() + 238, read.begin()));
        }
    }
}

TEST_F(CliTest, SilentAndRefusingDevicesAreGivenUpWhileTheOthersGoOn) {
    ASSERT_EQ(run({"new", "-o", path("start.cfg")}).status, 0);
    const struct {
        std::vector<std::string> sim;
        const char* says;
    } cases[] = {
        {{"--silent"}, "не отвечает (опознание)"},
        {{"--endless-ident"}, "не отвечает (опознание)"},
        // Three chunks taken, the fourth never answered.
        {{"--mute-after", "4"}, "не отвечает (запись, 15%)"},
        {{"--reject", "100000"}, "Ошибка записи! (попыток подряд: 4), запись прекращена (запись, 0%)"},
        // Each chunk taken at its second try: the refusals in a row are counted per chunk.
        {{"--reject-each", "1"}, "записано"},
        {{}, "записано"},
    };
    // A fast line, on both sides: the port waits for a reply as long as its speed says the line
    // takes, and forty chunks with a pause after each refusal must still end well within the bound.
    std::vector<std::unique_ptr<SimProcess>> sims;
    std::vector<std::string> args = {"write", path("start.cfg"), "--timeout", "1", "--retries", "3"};
    args.insert(args.end(), {"--baud", "115200"});
    for (const auto& c : cases) {
        auto simArgs = c.sim;
        simArgs.insert(simArgs.begin(), {"--baud", "115200"});
        sims.push_back(std::make_unique<SimProcess>(simArgs));
        args.insert(args.end(), {"--port", sims.back()->port()});
    }
    const auto started = std::chrono::steady_clock::now();
    const Ran r = run(args);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 4s);
    EXPECT_EQ(r.status, 1);
    for (std::size_t i = 0; i < sims.size(); ++i) {
        SCOPED_TRACE(cases[i].says);
        EXPECT_NE((r.out + r.err).find(sims[i]->port() + ": " + cases[i].says), npos) << r.out << r.err;
        // Whole commands only, and a RESET last wherever the device was identified.
        if (i >= 2) {
            EXPECT_TRUE(waitUntil([&] { return sims[i]->log().ends_with("RESET\n"); }, 5s)) << sims[i]->log();
        }
    }
}

TEST_F(CliTest, VerifyNamesTheFieldTheDeviceChanged) {
    SimProcess stuck({"--stuck", "5=99"}); // CS1_hand_time
    ASSERT_EQ(run({"new", "-o", path("start.cfg")}).status, 0);
    const Ran w = run({"write", stuck.port(), path("start.cfg"), "--verify"});
    EXPECT_EQ(w.status, 1);
    EXPECT_NE(w.out.find("CS1_hand_time (Ожидать HANDSHAKE, сек. (5-30)): в устройстве 99, в файле 10"), npos)
        << w.out;
    const Ran v = run({"verify", stuck.port(), path("start.cfg")});
    EXPECT_EQ(v.status, 1);
    EXPECT_NE(v.out.find("в устройстве 99"), npos);
}

// Ctrl+C, SIGTERM (timeout, a service manager), SIGHUP (a closed terminal) and a time-out end
// the run alike, on devices behind ports that hold written bytes until they have crossed the
// line: the chunk on its way arrives whole, every device gets its RESET after it, every port is
// free again and the device answers the next run.
TEST_F(CliTest, EveryStopLeavesWholeChunksAndAnsweringDevices) {
    ASSERT_EQ(run({"new", "-o", path("start.cfg")}).status, 0);
    ASSERT_EQ(run({"set", path("start.cfg"), "TS_object_id=4321", "CS1_phone_2=7654321"}).status, 0);
    const auto fresh = bytes(path("start.cfg"));
    // At 2400 baud a chunk crosses the line in 138 ms and its "OK\r\n" in 17: a stop as the
    // device logs a chunk comes while it answers, one two answers' time later while the next
    // chunk is on the line.
    const struct {
        int sig;
        std::chrono::milliseconds after;
    } cases[] = {{SIGINT, 0ms}, {SIGINT, 34ms}, {SIGTERM, 0ms}, {SIGTERM, 34ms}, {SIGHUP, 34ms}, {0, 0ms}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.sig) + " after " + std::to_string(c.after.count()) + " ms");
        // The time-out row: the device falls silent after its third chunk.
        const std::vector<std::string> quiet =
            c.sig ? std::vector<std::string>{} : std::vector<std::string>{"--mute-after", "4"};
        std::vector<std::string> args{"--baud", "2400"};
        args.insert(args.end(), quiet.begin(), quiet.end());
        SimProcess a(args), b({"--baud", "2400"});
        const auto old = a.memory();
        Cli cli({"write", path("start.cfg"), "--port", a.port(), "--port", b.port(), "--timeout", "1",
                 "--baud", "2400"});
        ASSERT_TRUE(waitUntil([&] { return a.log().find("WRITE 26 @034") != npos; }));
        if (c.sig) {
            std::this_thread::sleep_for(c.after); // picks the moment; nothing waits on it
            ::kill(cli.pid(), c.sig);
        }
        const Ran r = cli.finish();
        EXPECT_EQ(r.status, c.sig ? 128 + c.sig : 1);
        EXPECT_NE(r.err.find(a.port() + (c.sig ? ": прервано" : ": не отвечает")), npos) << r.err;
        for (SimProcess* s : {&a, &b}) {
            // The paced simulator may still be taking the last bytes in.
            EXPECT_TRUE(waitUntil([&] { return s->log().ends_with("RESET\n"); }, 5s)) << s->log();
            EXPECT_EQ(tk7v::test::CutChunk(s->memory(), old, fresh), "");
            const auto memory = s->memory();
            EXPECT_EQ(std::search(memory.begin(), memory.end(), "RESET", "RESET" + 5), memory.end());
            EXPECT_EQ(run({"identify", s->port(), "--baud", "2400", "--timeout", "1"}).status,
                      c.sig || s == &b ? 0 : 1);
        }
    }
}

// Each device's result is out the moment that device ends, while a slower one still runs.
TEST_F(CliTest, EachResultIsPrintedWhenItsDeviceEnds) {
    // The good device's line holds an escape sequence: shown written out, it colours nothing.
    SimProcess good({"--ident", "TK7V \x1B[31mred"}), silent({"--silent"});
    const auto started = std::chrono::steady_clock::now();
    Cli cli({"identify", good.port(), silent.port(), "--timeout", "5"});
    ASSERT_TRUE(waitUntil([&] { return cli.outSoFar().find("TK7V") != npos; }));
    EXPECT_TRUE(cli.running());
    const Ran r = cli.finish();
    // The silent device is given up when its time-out is over, neither before nor much after.
    EXPECT_GE(std::chrono::steady_clock::now() - started, 5s);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 6s);
    EXPECT_EQ(r.status, 1);
    // The result on standard output, the failure on standard error.
    EXPECT_EQ(r.out, good.port() + ": TK7V \\x1B[31mred\n");
    EXPECT_EQ(r.err.find('\x1B'), npos) << r.err;
    EXPECT_NE(r.err.find(silent.port() + ": не отвечает (опознание)\n"), npos) << r.err;
}

// The time-out bounds each wait for the device, not the exchange: a write that lasts longer than
// the time-out on a slow line ends well.
TEST_F(CliTest, ASlowWriteOutlastsTheTimeOut) {
    SimProcess slow({"--baud", "4800"});
    ASSERT_EQ(run({"new", "-o", path("start.cfg")}).status, 0);
    const auto started = std::chrono::steady_clock::now();
    // A write that never ends is killed: about 2 s is the whole write at this speed.
    const Ran r = Cli({"write", path("start.cfg"), "--port", slow.port(), "--baud", "4800", "--timeout", "1"})
                      .finish(std::chrono::seconds(20));
    EXPECT_GT(std::chrono::steady_clock::now() - started, 1s);
    EXPECT_EQ(r.status, 0) << r.err;
}

// Results on standard output, everything else on standard error; -q drops the progress only;
// "-" is standard input or output; output that cannot be written is a failure.
TEST_F(CliTest, StreamsAndStandardInputAndOutput) {
    SimProcess sim;
    const Ran fresh = run({"new", "-o", "-"});
    ASSERT_EQ(fresh.status, 0);
    const ParameterImage startup = StartupImage();
    EXPECT_EQ(fresh.out, std::string(startup.begin(), startup.end()));
    EXPECT_EQ(fresh.err, "");

    const Ran changed = run({"set", "-", "TS_object_id=9000"}, {fresh.out});
    EXPECT_EQ(changed.status, 0);
    EXPECT_EQ(changed.out.size(), 512u);
    EXPECT_EQ(changed.err, "предупреждение: TS_object_id («Номер объекта (0-8191)»): 9000 вне диапазона "
                           "0-8191; в поле записывается 9000\n");
    const Ran shown = run({"show", "-"}, {changed.out});
    EXPECT_NE(shown.out.find("TS_object_id (Номер объекта (0-8191)) [скрытое]: 9000\n"), npos);
    EXPECT_EQ(run({"show", "-"}, {"short"}).err,
              "стандартный ввод: Неверный размер файла настроек: 5 байт (нужно 512).\n");
    EXPECT_EQ(run({"show", "-"}, {fresh.out + "x"}).status, 3);
    put(path("start.cfg"), std::vector<std::uint8_t>(startup.begin(), startup.end()));
    EXPECT_EQ(run({"show", path("start.cfg")}, {{}, "/dev/full"}).status, 3);

    const Ran read = run({"read", sim.port(), "-o", "-"});
    EXPECT_EQ(read.status, 0);
    EXPECT_EQ(read.out.size(), 512u);
    EXPECT_NE(read.err.find(sim.port() + ": прочитано в стандартный вывод"), npos) << read.err;

    const Ran loud = run({"write", path("start.cfg"), "--port", sim.port()});
    const Ran quiet = run({"-q", "write", path("start.cfg"), "--port", sim.port()});
    EXPECT_EQ(loud.out, sim.port() + ": записано и проверено\n");
    EXPECT_EQ(quiet.out, loud.out);
    EXPECT_NE(loud.err.find("Запись данных..."), npos) << loud.err;
    EXPECT_EQ(quiet.err, "");
}

// The replace rules of every front end, here through -o.
TEST_F(CliTest, ReplacingRules) {
    const ParameterImage startup = StartupImage();
    const auto failures = test::CheckFilePolicy(
        dir_ / "policy", std::string(startup.begin(), startup.end()), [](const fs::path& p) {
            const Ran r = run({"new", "-o", p.string()});
            if (r.status == 0) return test::SaveOutcome::Written;
            return r.err.find("Ошибка записи в файл") != npos ? test::SaveOutcome::WriteFailed
                                                              : test::SaveOutcome::OpenFailed;
        });
    for (const auto& f : failures)
        ADD_FAILURE() << f;
    // And -n: an existing file is refused, before any device is asked.
    SimProcess sim;
    put(path("kept.cfg"), std::vector<std::uint8_t>(512, 7));
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"new", "-o", path("kept.cfg"), "-n"},
          {"read", sim.port(), "-o", path("kept.cfg"), "--no-clobber"}}) {
        const Ran r = run(args);
        EXPECT_EQ(r.status, 3);
        EXPECT_NE(r.err.find("kept.cfg: файл уже есть"), npos) << r.err;
    }
    EXPECT_EQ(bytes(path("kept.cfg")), std::vector<std::uint8_t>(512, 7));
    // Nothing read. A RESET alone may be another test's: a station there that still probes the
    // port of a simulator gone before this one was given the same pseudo-terminal.
    EXPECT_EQ(sim.log().find("READ"), npos) << sim.log();
}

// Wrong command lines: refused before anything is sent, with the word that was wrong.
TEST_F(CliTest, WrongCommandLines) {
    SimProcess a, b;
    ASSERT_EQ(run({"new", "-o", path("ok.cfg")}).status, 0);
    fs::create_directories(dir_ / "x");
    fs::create_directories(dir_ / "y");
    fs::create_symlink(a.port(), dir_ / "x" / "tk");
    fs::create_symlink(b.port(), dir_ / "y" / "tk");
    const std::string A = a.port(), B = b.port(), ok = path("ok.cfg"), report = path("r.csv");
    std::ofstream(path("ports.csv")) << "port,TS_object_id\n" << A << ",5\n";
    const struct {
        std::vector<std::string> args;
        int status;
        std::string words;
    } cases[] = {
        {{}, 2, "tk7v-cli: не задана команда"},
        {{"bogus"}, 2, "tk7v-cli: неизвестная команда bogus"},
        {{"--bogus"}, 2, "неизвестный параметр --bogus"},
        {{"read", "--bogus"}, 2, "tk7v-cli read: неизвестный параметр --bogus"},
        {{"read", A, "-o"}, 2, "параметру -o нужно значение"},
        {{"read", A, "-o", "--verify"}, 2, "параметру -o нужно значение"},
        {{"read", A}, 2, "не задан файл (-o ФАЙЛ)"},
        {{"show", ok, "extra"}, 2, "лишнее слово extra"},
        {{"show", ok, "--json=maybe"}, 2, "флаг --json пишется без значения: --json=maybe"},
        {{"identify", A, "--baud", "12345"}, 2, "--baud '12345': допустимо: 110, 300,"},
        {{"identify", A, "--data-bits", "9"}, 2, "--data-bits '9': допустимо: 5, 6, 7, 8"},
        {{"identify", A, "--parity", "x"}, 2, "--parity 'x': допустимо: none, odd, even, mark, space"},
        {{"identify", A, "--stop-bits", "3"}, 2, "--stop-bits '3': допустимо: 1, 1.5, 2"},
        {{"identify", A, "--timeout", "soon"}, 2, "--timeout 'soon'"},
        {{"identify", A, "--retries", "-1"}, 2, "--retries '-1'"},
        {{"identify", A, "--port", A}, 2, "порт " + A + " указан дважды"},
        {{"identify", A, (dir_ / "x" / "tk").string()}, 2, "один и тот же порт"},
        {{"identify", ok}, 2, "это файл, а не последовательный порт"},
        {{"identify", dir_.string()}, 2, "это папка"},
        {{"identify"}, 2, "не задан порт"},
        {{"write", A}, 2, "не задан файл конфигурации (" + A + " — это порт)"},
        {{"write", ok}, 2, "не задан порт (ПОРТ или --port)"},
        {{"write", A, path("missing.cfg")}, 3, "missing.cfg: Файл не найден"},
        // --port takes one word each time, before the file or after it.
        {{"write", "--port", A, path("missing.cfg")}, 3, "missing.cfg: Файл не найден"},
        {{"verify", "--port", A, "--port", B, path("missing.cfg")}, 3, "missing.cfg: Файл не найден"},
        {{"read", "--port", A, B, "-o", path("one.cfg")},
         2,
         "при нескольких портах в имени файла нужен {port}"},
        {{"read", A, B, "-o", path("one.cfg")}, 2, "при нескольких портах в имени файла нужен {port}"},
        {{"read", A, B, "-o", "-"}, 2, "только одно устройство"},
        {{"read", (dir_ / "x" / "tk").string(), (dir_ / "y" / "tk").string(), "-o", path("c_{port}.cfg")},
         2,
         "записывались бы в один файл"},
        {{"write", A, ok, "--loop", "--values", path("ports.csv"), "--report", report}, 2, "--same-values"},
        {{"write", "/dev/ttyTK7Vnone", ok, "--loop"}, 1, "Невозможно подключиться к порту /dev/ttyTK7Vnone"},
        {{"write", A, ok, "--number", "TS_object_id=101-9000", "--report", report}, 2, "от 0 до 8191"},
        {{"set", ok, "CS1_active=нет"}, 2, "CS1_active: окно программы не даёт изменить это поле"},
        {{"set", ok, "TS_object_id=9000", "--strict"},
         2,
         "TS_object_id («Номер объекта (0-8191)»): 9000 вне диапазона"},
        {{"set", ok, "CS1_dial_each_n=a"}, 2, "CS1_dial_each_n («Число наборов номера (1-9)»): 'a'"},
        {{"set", ok}, 2, "не заданы поля (ИМЯ=ЗНАЧЕНИЕ или --from)"},
        {{"show"}, 2, "не задан файл конфигурации"},
        {{"diff", ok}, 2, "нужны два файла"},
        {{"new"}, 2, "не задан файл (-o ФАЙЛ)"},
    };
    const auto before = bytes(ok);
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        const Ran r = run(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.err.find(c.words), npos) << r.err;
        EXPECT_EQ(r.out, "");
        // A wrong command points to its help; a refused value says that the file stayed as it was.
        if (c.status == 2) {
            EXPECT_TRUE(r.err.find(" --help\n") != npos || r.err.ends_with(" не изменён\n")) << r.err;
        }
    }
    EXPECT_EQ(bytes(ok), before);
    EXPECT_FALSE(fs::exists(path("c_tk.cfg")));
    EXPECT_FALSE(fs::exists(report));
    EXPECT_EQ(a.log(), "");
    EXPECT_EQ(b.log(), "");
}

TEST_F(CliTest, BadInputIsOneMessageAndNoChangedFile) {
    SimProcess sim;
    SerialPort holder;
    ASSERT_EQ(run({"new", "-o", path("ok.cfg")}).status, 0);
    const auto before = bytes(path("ok.cfg"));
    put(path("short.cfg"), std::vector<std::uint8_t>(511, 0));
    std::ofstream(path("spoilt.jsonl")) << "{\"row\":2}\n{\"numbers\":{\"TS_object_id=\":5}}\n";
    const struct {
        std::vector<std::string> args;
        int status;
        std::string message;
    } cases[] = {
        {{"set", path("ok.cfg"), "NO_SUCH=1"}, 2, "Неизвестное поле: NO_SUCH"},
        {{"set", path("ok.cfg"), "CS1_hand_time=1a"},
         2,
         "CS1_hand_time («Ожидать HANDSHAKE, сек. (5-30)»): '1a' не является разрешённым числовым значением"},
        {{"set", path("ok.cfg"), "CS1_hand_time=123"}, 2, "длиннее 2"},
        {{"set", path("ok.cfg"), "CS1_active=maybe"}, 2, "ожидается 1 или 0"},
        {{"show", path("short.cfg")}, 3, "Неверный размер файла настроек: 511 байт (нужно 512)."},
        {{"show", path("none.cfg")}, 3, "Файл не найден"},
        {{"write", path("ok.cfg")}, 2, "не задан порт"},
        {{"identify", path("no-such-port")}, 1, "Невозможно подключиться к порту"},
        // The record it can read is listed, the line it cannot is named.
        {{"ledger", "show", path("spoilt.jsonl")}, 0, "spoilt.jsonl: строка 2 не читается и пропущена"},
        // A device that failed outweighs another device's file that could not be written.
        {{"read", "--port", sim.port(), "--port", path("no-such-port"), "-o", path("no-folder/{port}.cfg")},
         1,
         "Невозможно подключиться к порту"},
        {{"frobnicate"}, 2, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + (c.args.size() > 2 ? c.args[2] : ""));
        const Ran r = run(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE((r.out + r.err).find(c.message), npos) << r.out << r.err;
    }
    EXPECT_EQ(bytes(path("ok.cfg")), before);
    // A port that another program holds.
    ASSERT_EQ(holder.open(sim.port(), PortConfig{}).stage, SerialPort::OpenResult::Opened);
    const Ran busy = run({"identify", sim.port()});
    EXPECT_EQ(busy.status, 1);
    EXPECT_NE(busy.err.find("Порт занят"), npos) << busy.err;
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

TEST_F(CliTest, ValuesTableGivesEachDeviceItsOwnAndABadRowTouchesNone) {
    std::vector<std::unique_ptr<SimProcess>> sims;
    for (int i = 0; i < 3; ++i)
        sims.push_back(std::make_unique<SimProcess>());
    ASSERT_EQ(run({"new", "-o", path("template.cfg")}).status, 0);
    std::string table = "\xEF\xBB\xBFпорт;TS_object_id;Набор номера;CS1_phone_1\r\n";
    for (int i = 0; i < 3; ++i)
        table +=
            sims[i]->port() + ";" + std::to_string(101 + i) + ";Тон;\"8,,800" + std::to_string(i) + "\"\r\n";
    std::ofstream(path("good.csv"), std::ios::binary) << table;
    std::ofstream(path("bad.csv"), std::ios::binary) << table << sims[0]->port() << ";9x;Тон;\r\n";

    const auto before = sims[0]->memory();
    std::vector<std::string> args = {"write", path("template.cfg"), "--values", path("bad.csv")};
    for (auto& s : sims)
        args.insert(args.end(), {"--port", s->port()});
    const Ran bad = run(args);
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("строка 5"), npos) << bad.err;
    for (auto& s : sims)
        EXPECT_EQ(s->log().find("WRITE"), npos);
    EXPECT_EQ(sims[0]->memory(), before);

    args[3] = path("good.csv");
    args.insert(args.end(), {"--report", path("report.jsonl")});
    const Ran good = run(args);
    ASSERT_EQ(good.status, 0) << good.out << good.err;
    std::ifstream report(path("report.jsonl"));
    std::string line;
    int records = 0;
    for (int i = 0; std::getline(report, line); ++i, ++records) {
        const auto r = nlohmann::json::parse(line);
        const std::size_t d = static_cast<std::size_t>(
            std::find_if(sims.begin(), sims.end(), [&](auto& s) { return s->port() == r["port"]; }) -
            sims.begin());
        ASSERT_LT(d, sims.size()) << line;
        const auto memory = sims[d]->memory();
        ParameterImage written;
        std::copy(memory.begin(), memory.end(), written.begin());
        const auto shown = nlohmann::json::parse(run({"show", sims[d]->memoryPath(), "--json"}).out);
        EXPECT_EQ(shown["TS_object_id"]["value"], std::to_string(101 + d));
        EXPECT_EQ(shown["CS1_phone_1"]["value"], "8,,800" + std::to_string(d));
        EXPECT_EQ(r["command"], "write");
        EXPECT_EQ(r["result"], "done");
        EXPECT_EQ(r["file"], path("template.cfg"));
        EXPECT_EQ(r["identification"], "TK7V v2.6 (simulator)");
        EXPECT_EQ(r["sha256"], station::Sha256Hex(written));
        EXPECT_LE(r["start"].get<std::string>(), r["end"].get<std::string>());
        EXPECT_TRUE(r["differing"].empty());
    }
    EXPECT_EQ(records, 3);
}

TEST_F(CliTest, StationProgramsOneDeviceAfterAnother) {
    const std::string station = path("ttyStation");
    auto device =
        std::make_unique<SimProcess>(std::vector<std::string>{"--link", station, "--ident", "TK7V first"});
    ASSERT_EQ(run({"new", "-o", path("site.cfg")}).status, 0);
    Cli cli({"write", path("site.cfg"), "--port", station, "--loop", "--report", path("station.csv")});
    // However the test ends, the station is stopped.
    const std::unique_ptr<Cli, void (*)(Cli*)> stopper(&cli, [](Cli* c) { ::kill(c->pid(), SIGTERM); });
    const auto waiting = [&] {
        const std::string err = cli.errSoFar();
        int n = 0;
        for (std::size_t at = 0; (at = err.find("ждёт устройство", at)) != npos; ++at)
            ++n;
        return n;
    };
    const auto records = [&] {
        std::ifstream in(path("station.csv"));
        int n = -1; // the header
        for (std::string line; std::getline(in, line);)
            ++n;
        return n;
    };
    ASSERT_TRUE(waitUntil([&] { return records() == 1; }));
    device.reset(); // unplugged: the port and its link go
    ASSERT_TRUE(waitUntil([&] { return waiting() == 2; }));
    device = std::make_unique<SimProcess>(
        std::vector<std::string>{"--link", station, "--ident", "TK7V second", "--stuck", "5=99"});
    ASSERT_TRUE(waitUntil([&] { return records() == 2; }));
    // Only identification requests while the station waits for the next device.
    const std::string log = device->log();
    ::kill(cli.pid(), SIGTERM);
    const Ran r = cli.finish();
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("записано и проверено (TK7V first)"), npos) << r.out;
    EXPECT_NE(r.err.find("проверка не пройдена, различается полей: 1 (TK7V second)"), npos) << r.err;
    EXPECT_NE(r.err.find("Запрограммировано устройств: 1, с ошибкой: 1"), npos) << r.err;
    const std::string after = device->log().substr(log.size());
    EXPECT_EQ(after.find_first_not_of("RESET\n"), npos) << after;
}

// Ctrl+C just after the station has found a device, while it connects and before anything is
// written to it (the device takes two seconds over each answer, so the stop lands well inside the
// connection): the device counts neither as programmed nor as failed.
TEST_F(CliTest, AStopBeforeTheFirstChunkLeavesTheDeviceUncounted) {
    const std::string station = path("ttySlow");
    SimProcess device({"--link", station, "--turnaround", "2000"});
    ASSERT_EQ(run({"new", "-o", path("site.cfg")}).status, 0);
    Cli cli({"write", path("site.cfg"), "--port", station, "--loop"});
    ASSERT_TRUE(waitUntil([&] { return cli.errSoFar().find("Подключение к устройству") != npos; }));
    ::kill(cli.pid(), SIGINT);
    const Ran r = cli.finish();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Запрограммировано устройств: 0, с ошибкой: 0"), npos) << r.err;
    EXPECT_EQ(device.log().find("WRITE"), npos);
}

// Another program holding the port while the station waits for the device to go: the port's
// line names why, and the device, still there, is not programmed a second time.
TEST_F(CliTest, APortHeldBusyForAMomentIsNoNewDevice) {
    const std::string station = path("ttyStation");
    SimProcess device({"--link", station});
    ASSERT_EQ(run({"new", "-o", path("site.cfg")}).status, 0);
    Cli cli({"write", path("site.cfg"), "--port", station, "--loop"});
    ASSERT_TRUE(waitUntil([&] { return cli.errSoFar().find("отключите устройство") != npos; }));
    const int held = ::open(station.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    ASSERT_TRUE(
        waitUntil([&] { return cli.errSoFar().find("Невозможно подключиться к порту " + station) != npos; }));
    ::close(held);
    ASSERT_TRUE(waitUntil([&] {
        const std::string err = cli.errSoFar();
        return err.find("отключите устройство", err.find("Невозможно подключиться")) != npos;
    }));
    const std::string log = device.log();
    ::kill(cli.pid(), SIGTERM);
    const Ran r = cli.finish();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Запрограммировано устройств: 1, с ошибкой: 0"), npos) << r.err;
    EXPECT_EQ(log.find("WRITE 26 @000"), log.rfind("WRITE 26 @000")) << log; // one write: the first
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
        EXPECT_NE(shown.out.find("CS1_phone_1 (Телефон №1): 8001234567"), npos) << shown.out;
        const Ran missing = run({"show", path("нет " + name)});
        EXPECT_EQ(missing.status, 3);
        EXPECT_NE(missing.err.find(path("нет " + name) + ": Файл не найден"), npos) << missing.err;
    }
}

// Two stations appending to one report, each with two devices and one counter: four devices,
// four numbers in order, one header; then a station killed after its claim is started again
// and does not give that number twice.
TEST_F(CliTest, NumbersAreNeverGivenTwiceAcrossStationsAndRestarts) {
    ASSERT_EQ(run({"new", "-o", path("site.cfg")}).status, 0);
    std::vector<std::unique_ptr<SimProcess>> sims;
    for (int i = 0; i < 4; ++i)
        sims.push_back(std::make_unique<SimProcess>());
    const std::string report = path("shared.csv");
    const auto station = [&](int first) {
        return std::make_unique<Cli>(std::vector<std::string>{
            "write", path("site.cfg"), "--port", sims[first]->port(), "--port", sims[first + 1]->port(),
            "--number", "TS_object_id=101-199", "--report", report});
    };
    auto one = station(0), two = station(2);
    for (auto* s : {one.get(), two.get()}) {
        const Ran r = s->finish();
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_NE(r.out.find("записано и проверено, TS_object_id=10"), npos) << r.out;
    }
    std::set<std::string> numbers;
    for (auto& s : sims)
        numbers.insert(
            nlohmann::json::parse(run({"show", s->memoryPath(), "--json"}).out)["TS_object_id"]["value"]);
    EXPECT_EQ(numbers, (std::set<std::string>{"101", "102", "103", "104"}));
    const auto text = [&] {
        std::ifstream in(report, std::ios::binary);
        return std::string{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    };
    EXPECT_EQ(text().find("Порт;", 4), npos) << text(); // one header, after the byte-order mark

    // Killed once its claim is in the ledger, the one in the documents that the report seeded:
    // the next run goes on after it. A device that got its number above would be left alone by a
    // station, as one programmed already: a fresh one.
    SimProcess fresh;
    Cli killed({"write", path("site.cfg"), "--port", fresh.port(), "--loop", "--number",
                "TS_object_id=101-199", "--report", report});
    const auto ledger = [&] {
        std::ifstream in(documents() / "Учёт номеров ТК-7В.csv", std::ios::binary);
        return std::string{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    };
    ASSERT_TRUE(waitUntil([&] { return ledger().find("TS_object_id=105") != npos; }));
    ::kill(killed.pid(), SIGKILL);
    killed.finish();
    SimProcess another;
    const Ran again = run(
        {"write", another.port(), path("site.cfg"), "--number", "TS_object_id=101-199", "--report", report});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.out.find("TS_object_id=106"), npos) << again.out;
}

// A device written whose record the report could not take is no success: the run says so and
// ends with 3, as for any file that could not be written.
TEST_F(CliTest, AWrittenDeviceWhoseRecordIsLostIsNoSuccess) {
    ASSERT_EQ(run({"new", "-o", path("site.cfg")}).status, 0);
    SimProcess sim;
    std::signal(SIGXFSZ, SIG_IGN); // the write fails instead of ending the process
    rlimit saved{}, tight{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    tight = saved;
    tight.rlim_cur = 1; // not even the report's headings fit
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tight), 0);
    const Ran r = run({"write", path("site.cfg"), "--port", sim.port(), "--report", path("r.csv")});
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, SIG_DFL);
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find("Записи не сохранены"), npos) << r.err;
}

// Two devices answer at once for the list's last row: the one that gets it is written, the other
// is left as it came, neither counted as failed nor recorded.
TEST_F(CliTest, ADeviceTheListHasNoRowForIsNoFailure) {
    ASSERT_EQ(run({"new", "-o", path("site.cfg")}).status, 0);
    std::ofstream(path("list.csv")) << "TS_object_id\n301\n";
    SimProcess first, second;
    const Ran r = run({"write", path("site.cfg"), "--port", first.port(), "--port", second.port(), "--loop",
                       "--values", path("list.csv"), "--report", path("list.jsonl")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Запрограммировано устройств: 1, с ошибкой: 0"), npos) << r.err;
    const auto report = bytes(path("list.jsonl"));
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'),
              1); // the device done; its claim is the ledger's
}

// A list without a port column under --loop: each device the next row, the report naming it,
// and the station ends on every port when the rows run out.
TEST_F(CliTest, AStationGivesEachDeviceTheNextRowUntilTheListRunsOut) {
    ASSERT_EQ(run({"new", "-o", path("site.cfg")}).status, 0);
    std::ofstream(path("list.csv")) << "TS_object_id;CS1_phone_1\n301;8001\n302;8002\n";
    const std::string port = path("ttyStation");
    auto device = std::make_unique<SimProcess>(std::vector<std::string>{"--link", port});
    Cli cli({"write", path("site.cfg"), "--port", port, "--loop", "--values", path("list.csv"), "--report",
             path("list.jsonl")});
    const auto records = [&] {
        std::ifstream in(path("list.jsonl"));
        std::vector<nlohmann::json> all;
        for (std::string line; std::getline(in, line);)
            all.push_back(nlohmann::json::parse(line));
        return all;
    };
    for (int row = 2; row <= 3; ++row) {
        ASSERT_TRUE(waitUntil([&] { return records().size() == std::size_t(row - 1); }));
        const auto shown = nlohmann::json::parse(run({"show", device->memoryPath(), "--json"}).out);
        EXPECT_EQ(shown["TS_object_id"]["value"], std::to_string(299 + row));
        EXPECT_EQ(shown["CS1_phone_1"]["value"], "800" + std::to_string(row - 1));
        if (row == 3) break;
        device.reset(); // unplugged, and once the station waits again, the next one
        ASSERT_TRUE(waitUntil([&] {
            const std::string err = cli.errSoFar();
            return err.find("ждёт устройство", err.find("отключите устройство")) != npos;
        }));
        device = std::make_unique<SimProcess>(std::vector<std::string>{"--link", port});
    }
    const Ran r = cli.finish(10s); // the list has run out: the station ends by itself
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("записано и проверено, строка 3"), npos) << r.out;
    EXPECT_NE(r.err.find(port + ": строки списка кончились"), npos) << r.err;
    // The day's report holds the devices; the claims are the ledger's.
    const auto all = records();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0]["result"], "done");
    EXPECT_EQ(all[0]["row"], 2);
    EXPECT_EQ(all[1]["row"], 3);
}
