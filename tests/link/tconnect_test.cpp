#include "fake_device.h"
#include "link/tconnect.h"
#include "recording_host.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <map>

using namespace tk7v;
using tk7v::test::FakeDevice;
using tk7v::test::RecordingHost;

namespace {

struct Exchange {
    FakeDevice device;
    std::atomic<int> operation{opIdle};
    ManualResetEvent done;
    RecordingHost host{done};

    void exchange(Operation op) {
        operation = op;
        TConnect worker(device, operation, done, host);
        host.worker = &worker;
        worker.Start();
        worker.Join();
    }
};

std::string bytes(const protocol::Command& c) {
    return {c.begin(), c.end()};
}

} // namespace

TEST(TConnect, IdentifiesSkippingOtherLines) {
    Exchange r;
    r.device.faults.preamble = {"BOOT", "tk7v lower case", "TK7"};
    r.device.faults.ident = "TK7V v2.6 rev B";
    r.exchange(opConnect);
    EXPECT_EQ(r.device.written, "RESET\r");
    EXPECT_EQ(r.device.rtsRaised, 1);
    EXPECT_EQ(r.host.statuses,
              (std::vector<std::string>{"Подключение к устройству...",
                                        "Установлена связь c устройством: TK7V v2.6 rev B"}));
    EXPECT_EQ(r.operation.load(), opIdle);
    EXPECT_TRUE(r.done.isSet());
    EXPECT_EQ(r.host.restored, 1);
    EXPECT_EQ(r.host.identifiedLines, std::vector<std::string>{"TK7V v2.6 rev B"});
    ASSERT_EQ(r.host.ends.size(), 1u);
    EXPECT_EQ(r.host.ends[0].how, ExchangeEnd::How::Done);
}

TEST(TConnect, ReadsTheParameterStretchInTenCommands) {
    Exchange r;
    for (std::size_t i = 0; i < 512; ++i)
        r.device.memory[i] = static_cast<std::uint8_t>(i * 13);
    r.exchange(opRead);

    std::string expected;
    const std::size_t addresses[] = {0x000, 0x01A, 0x034, 0x04E, 0x068, 0x082, 0x09C, 0x0B6, 0x0D0, 0x0EA};
    for (std::size_t a : addresses)
        expected += bytes(protocol::ReadCommand(a == 0x0EA ? 4 : 26, a));
    EXPECT_EQ(r.device.written, expected);

    std::vector<std::string> statuses;
    for (int p : {0, 10, 21, 32, 43, 54, 65, 76, 87, 98})
        statuses.push_back("Чтение данных... " + std::to_string(p) + "%");
    statuses.push_back("Чтение данных... 100%");
    statuses.push_back("Операция чтения выполнена успешно.");
    EXPECT_EQ(r.host.statuses, statuses);

    ASSERT_EQ(r.host.delivered.size(), 1u);
    for (std::size_t i = 0; i < 512; ++i)
        EXPECT_EQ(r.host.delivered[0][i], i < 238 ? r.device.memory[i] : 0xFF) << i;
    EXPECT_EQ(r.operation.load(), opIdle);
    EXPECT_EQ(r.host.restored, 1);
}

TEST(TConnect, WritesTheWholeBlockInTwentyChunks) {
    Exchange r;
    for (std::size_t i = 0; i < 512; ++i)
        r.host.toWrite[i] = static_cast<std::uint8_t>(255 - i % 200);
    r.exchange(opWrite);

    EXPECT_TRUE(std::equal(r.device.memory.begin(), r.device.memory.end(), r.host.toWrite.begin()));
    std::string first = bytes(protocol::WriteHead(26, 0));
    first.append(r.host.toWrite.begin(), r.host.toWrite.begin() + 26);
    first += "\r";
    EXPECT_EQ(r.device.written.substr(0, first.size()), first);
    std::string last = bytes(protocol::WriteHead(18, 0x1EE));
    last.append(r.host.toWrite.begin() + 494, r.host.toWrite.end());
    last += "\r";
    EXPECT_EQ(r.device.written.substr(r.device.written.size() - last.size()), last);
    EXPECT_EQ(r.device.written.size(), 20 * 7 + 512u);

    std::vector<std::string> statuses = {"Обработка данных..."};
    for (int p : {5, 10, 15, 20, 25, 30, 35, 40, 45, 50, 55, 60, 66, 71, 76, 81, 86, 91, 96, 100})
        statuses.push_back("Запись данных... " + std::to_string(p) + "%");
    statuses.push_back("Запись данных... 100%");
    statuses.push_back("Операция записи выполнена успешно.");
    EXPECT_EQ(r.host.statuses, statuses);
    EXPECT_EQ(r.host.restored, 1);
}

TEST(TConnect, RejectedChunkIsSentAgainWithTheConfigurationNotTheReplyUntilTaken) {
    // Twelve is more refusals in a row than any count a caller would give up after (the command
    // line's is ten); the worker itself never skips a chunk.
    // A late "OK" left on the line before the first chunk must not pass for its answer: the
    // refusal would then be taken for the second chunk's, and the first never sent again. One
    // still on its way when the write begins is waited out; a refusal given twice is the first
    // attempt's alone.
    const struct {
        int rejects;
        std::uint8_t fill;
        const char* stale;
        const char* late;
        int doubled;
    } cases[] = {{2, 0x42, "", "", 0},
                 {12, 0x6B, "", "", 0},
                 {1, 0x37, "OK\r\n", "", 0},
                 {1, 0x25, "", "OK\r\n", 0},
                 {1, 0x58, "", "", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rejects << " refused, filled with " << int{c.fill});
        Exchange r;
        r.device.memory.fill(0x99); // what the device answers instead of "OK"
        r.device.faults.rejectWrites = c.rejects;
        r.device.send(c.stale);
        r.device.late = c.late;
        r.device.doubled = c.doubled;
        r.device.character = std::chrono::microseconds(1042); // 9600 baud
        r.host.toWrite.fill(c.fill);
        r.exchange(opWrite);
        EXPECT_TRUE(
            std::all_of(r.device.memory.begin(), r.device.memory.end(), [&](auto b) { return b == c.fill; }));
        EXPECT_EQ(std::count(r.host.statuses.begin(), r.host.statuses.end(), "Ошибка записи!"), c.rejects);
        EXPECT_EQ(r.host.statuses[1], "Запись данных... 5%");
        EXPECT_EQ(r.host.statuses[2], "Ошибка записи!");
        EXPECT_EQ(r.host.statuses[3], "Запись данных... 5%");
        EXPECT_EQ(r.host.statuses.back(), "Операция записи выполнена успешно.");
        EXPECT_EQ(r.device.written.size(), (c.rejects + 20) * (6 + 26 + 1) - 8);
        ASSERT_EQ(r.host.ends.size(), 1u);
        EXPECT_EQ(r.host.ends[0].how, ExchangeEnd::How::Done);
    }
}

TEST(TConnect, StopAtEachWaitTakesTheCancelEnding) {
    const struct {
        Operation op;
        const char* stopOn;
        bool silent;
    } cases[] = {
        {opConnect, "Подключение к устройству...", true}, {opRead, "Чтение данных... 0%", true},
        {opRead, "Чтение данных... 54%", false},          {opRead, "Чтение данных... 100%", false},
        {opWrite, "Обработка данных...", false},          {opWrite, "Запись данных... 5%", true},
        {opWrite, "Запись данных... 50%", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stopOn);
        Exchange r;
        r.device.faults.silent = c.silent;
        r.host.stopOn = c.stopOn;
        r.exchange(c.op);
        EXPECT_EQ(r.host.statuses.back(), "Операция отменена.");
        EXPECT_TRUE(r.host.doneBeforeCancelText);
        ASSERT_EQ(r.host.ends.size(), 1u);
        EXPECT_EQ(r.host.ends[0].how, ExchangeEnd::How::Cancelled);
        EXPECT_EQ(r.operation.load(), c.op); // only Abort takes it back
        EXPECT_EQ(r.host.restored, 0);
        EXPECT_TRUE(r.host.errors.empty());
    }
}

TEST(TConnect, StopWhileAChunkWaitsForItsAnswerIsNoWriteError) {
    Exchange r;
    r.device.answers = 1; // the first chunk's "OK\r\n", then silence: the CR LF is left over
    r.device.onBlock = [&] { r.host.worker->RequestStop(); };
    r.exchange(opWrite);
    EXPECT_EQ(std::count(r.host.statuses.begin(), r.host.statuses.end(), "Ошибка записи!"), 0);
    EXPECT_EQ(r.host.statuses.back(), "Операция отменена.");
    EXPECT_TRUE(r.host.doneBeforeCancelText);
}

TEST(TConnect, StopBeforeTheFirstChunkWritesNothing) {
    Exchange r;
    r.host.stopOn = "Обработка данных...";
    r.exchange(opWrite);
    EXPECT_EQ(r.device.written, "");
}

TEST(TConnect, ChannelErrorIsReportedOnceThenCancelled) {
    Exchange r;
    r.device.failAfterReads = 3;
    r.device.failReadWith = EIO;
    r.exchange(opRead);
    EXPECT_EQ(r.host.errors, std::vector<std::uint32_t>{EIO});
    EXPECT_EQ(r.host.statuses.back(), "Операция отменена.");
    ASSERT_EQ(r.host.ends.size(), 1u);
    EXPECT_EQ(r.host.ends[0].how, ExchangeEnd::How::Failed);
    EXPECT_EQ(r.host.ends[0].error.code, static_cast<std::uint32_t>(EIO));
    EXPECT_EQ(r.host.ends[0].error.kind, MakeSysError(EIO).kind); // the platform's own reading of the code
    EXPECT_TRUE(r.host.delivered.empty());
    EXPECT_EQ(r.operation.load(), opRead);
}

TEST(TConnect, IdleOperationEndsAtOnce) {
    Exchange r;
    r.exchange(opIdle);
    EXPECT_TRUE(r.host.statuses.empty());
    EXPECT_EQ(r.host.restored, 1);
    EXPECT_TRUE(r.done.isSet());
    EXPECT_EQ(r.device.written, "");
}

TEST(TConnect, EndlessIdentificationLineIsBounded) {
    Exchange r;
    r.device.faults.ident = "TK7V" + std::string(100000, 'Z');
    r.exchange(opConnect);
    ASSERT_EQ(r.host.statuses.size(), 2u);
    EXPECT_EQ(r.host.statuses[1],
              "Установлена связь c устройством: TK7V" + std::string(TConnect::kMaxIdentLine - 4, 'Z'));
}

TEST(TConnect, StopInsideAChunkLetsTheChunkGoOutWhole) {
    // Each write is one whole chunk, so no other writer's bytes can come between its parts.
    for (const std::size_t stopAfter : {1, 2}) {
        SCOPED_TRACE(stopAfter);
        Exchange r;
        r.device.onWrite = [&](int n) {
            EXPECT_EQ(r.device.written.size(), static_cast<std::size_t>(n) * (6 + 26 + 1));
            if (static_cast<std::size_t>(n) == stopAfter) r.host.worker->RequestStop();
        };
        r.exchange(opWrite);
        EXPECT_EQ(r.device.written.size(), stopAfter * (6 + 26 + 1));
        EXPECT_EQ(r.host.statuses.back(), "Операция отменена.");
    }
}

TEST(TConnect, IdentificationLineIsDecodedFromWindows1251) {
    Exchange r;
    r.device.faults.ident = "TK7V \xC2\xE5\xF0\xF1\xE8\xFF 2.0 <b>\x98";
    r.exchange(opConnect);
    EXPECT_EQ(r.host.statuses.back(), "Установлена связь c устройством: TK7V Версия 2.0 <b>\uFFFD");
}

TEST(TConnect, EachReadCommandWaitsForItsOwnReply) {
    // What may reach the worker before a command's own reply; none of it may land in the block.
    const struct {
        const char* name;
        std::function<std::string(const std::string& command, const std::string& reply)> answer;
    } cases[] = {
        {"a late OK first", [](const std::string&, const std::string& r) { return "OK" + r; }},
        {"a reply for another address first",
         [](const std::string& c, const std::string& r) {
             return "x" + c.substr(1, 3) + "F=" + r.substr(6) + r;
         }},
        {"a reply one byte short first",
         [](const std::string& c, const std::string& r) {
             std::string shorter = r.substr(0, r.size() - 2) + "\r";
             shorter[1] = static_cast<char>(c[1] - 1);
             return shorter + r;
         }},
        {"a count of zero first",
         [](const std::string& c, const std::string& r) { return "x`" + c.substr(2, 3) + "=\r" + r; }},
        {"a reply longer than asked",
         [](const std::string&, const std::string& r) {
             std::string longer = r.substr(0, r.size() - 1) + "\x11\x22\r";
             longer[1] = static_cast<char>(r[1] + 2);
             return longer;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Exchange r;
        for (std::size_t i = 0; i < 512; ++i)
            r.device.memory[i] = static_cast<std::uint8_t>(i * 7 + 1);
        r.device.replyOverride = [&](const std::string& command) {
            return c.answer(command, r.device.dataReplyFor(command));
        };
        r.exchange(opRead);
        ASSERT_EQ(r.host.delivered.size(), 1u);
        EXPECT_TRUE(
            std::equal(r.device.memory.begin(), r.device.memory.begin() + 238, r.host.delivered[0].begin()));
        EXPECT_EQ(r.host.statuses.back(), "Операция чтения выполнена успешно.");
    }
}

TEST(TConnect, ReadAnsweredOnlyWithOkWaitsUntilStopped) {
    Exchange r;
    r.device.replyOverride = [](const std::string&) { return std::string("OK\r\n"); };
    r.device.onBlock = [&] { r.host.worker->RequestStop(); };
    r.exchange(opRead);
    EXPECT_TRUE(r.host.delivered.empty());
    EXPECT_EQ(r.host.statuses.back(), "Операция отменена.");
    EXPECT_EQ(r.device.written, bytes(protocol::ReadCommand(26, 0))); // still waiting on the first
}

TEST(TConnect, WriteOfAGivenBlockAsksTheHostForNone) {
    Exchange r;
    Block given;
    given.fill(0x5C);
    r.host.toWrite.fill(0x00);
    r.operation = opWrite;
    TConnect worker(r.device, r.operation, r.done, r.host, given);
    r.host.worker = &worker;
    worker.Start();
    worker.Join();
    EXPECT_TRUE(std::equal(given.begin(), given.end(), r.device.memory.begin()));
    EXPECT_EQ(r.host.shares.back(), 100);
    ASSERT_EQ(r.host.ends.size(), 1u);
    EXPECT_EQ(r.host.ends[0].how, ExchangeEnd::How::Done);
}

TEST(TConnect, StopWhileAChunksProgressIsReportedSendsNoFurtherChunk) {
    // Chunk 1 is reported at 5%, chunk 11 at 55%.
    const struct {
        const char* stopOn;
        int stopOnShare;
        std::size_t chunksSent;
    } cases[] = {
        {"Запись данных... 5%", -1, 0},
        {"", 5, 0},
        {"Запись данных... 55%", -1, 10},
        {"", 55, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stopOn + std::to_string(c.stopOnShare));
        Exchange r;
        r.host.stopOn = c.stopOn;
        r.host.stopOnShare = c.stopOnShare;
        r.exchange(opWrite);
        EXPECT_EQ(r.device.written.size(), c.chunksSent * (6 + 26 + 1));
        ASSERT_EQ(r.host.ends.size(), 1u);
        EXPECT_EQ(r.host.ends[0].how, ExchangeEnd::How::Cancelled);
    }
}
