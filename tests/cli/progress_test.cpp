// What tk7v-cli shows while devices work: a handful of lines a device in a pipe, lines redrawn in
// place and cut to the width on a terminal, results apart from progress.
#include "progress.h"

#include <gtest/gtest.h>

using tk7v::cli::Progress;
using tk7v::cli::Streams;

namespace {

struct Captured {
    std::string out, err;
    bool outFails = false;
    Streams streams(bool terminal, int columns) {
        Streams s;
        s.out = [this](std::string_view t) {
            out += t;
            return !outFails;
        };
        s.err = [this](std::string_view t) {
            err += t;
            return true;
        };
        s.outTerminal = s.errTerminal = terminal;
        s.columns = [columns] { return columns; };
        return s;
    }
};

// The texts a write with its read-back shows, each step followed by its share.
void writeAndVerify(Progress& p, int line) {
    p.update(line, "Подключение к устройству...");
    p.update(line, "Установлена связь c устройством: TK7V");
    for (int chunk = 1; chunk <= 20; ++chunk) {
        p.update(line, "Запись данных... " + std::to_string(chunk * 5) + "%");
        p.share(line, chunk * 5);
    }
    p.update(line, "Операция записи выполнена успешно.");
    for (int percent : {0, 10, 21, 32, 43, 54, 65, 76, 87, 98, 100}) {
        p.update(line, "Чтение данных... " + std::to_string(percent) + "%");
        p.share(line, percent);
    }
    p.update(line, "Операция чтения выполнена успешно.");
}

} // namespace

TEST(Progress, APipeGetsAHandfulOfLinesADevice) {
    Captured c;
    Progress p(c.streams(false, 0), false);
    p.start({"ttyA", "ttyB"});
    const auto expected = [](const std::string& port) {
        std::string lines;
        for (const char* text :
             {"Подключение к устройству...", "Установлена связь c устройством: TK7V", "Запись данных... 5%",
              "Запись данных... 25%", "Запись данных... 50%", "Запись данных... 75%",
              "Операция записи выполнена успешно.", "Чтение данных... 0%", "Чтение данных... 32%",
              "Чтение данных... 54%", "Чтение данных... 76%", "Операция чтения выполнена успешно."})
            lines += port + ": " + text + "\n";
        return lines;
    };
    writeAndVerify(p, 0);
    p.finish(0, "записано и проверено");
    EXPECT_EQ(c.err, expected("ttyA"));
    EXPECT_EQ(c.out, "ttyA: записано и проверено\n");
    c.err.clear();
    // A device that falls silent in a stage: what it last said comes out at its end.
    p.update(1, "Запись данных... 5%");
    p.share(1, 5);
    p.update(1, "Запись данных... 10%");
    EXPECT_EQ(c.err, "ttyB: Запись данных... 5%\n");
    p.share(1, 10);
    p.finish(1, "не отвечает (запись, 10%)", true);
    EXPECT_EQ(c.err, "ttyB: Запись данных... 5%\nttyB: не отвечает (запись, 10%)\n");
    EXPECT_EQ(c.out, "ttyA: записано и проверено\n");
}

TEST(Progress, QuietDropsProgressOnly) {
    for (bool terminal : {false, true}) {
        Captured c;
        Progress p(c.streams(terminal, 80), true);
        p.start({"ttyA"});
        writeAndVerify(p, 0);
        p.finish(0, "записано");
        p.note("предупреждение");
        EXPECT_EQ(c.out, "ttyA: записано\n");
        EXPECT_EQ(c.err, "предупреждение\n");
    }
}

TEST(Progress, OnATerminalLinesAreRedrawnInPlaceAndCutToTheWidth) {
    Captured c;
    Progress p(c.streams(true, 20), false);
    p.start({"ttyA", "ttyB"});
    p.update(0, "Чтение данных... 10%");
    // 20 columns: 19 characters at most, the last one "…" when the text is longer.
    EXPECT_EQ(c.err, "\r\033[KttyA: Чтение данны…\n\033[J");
    c.err.clear();
    p.update(1, "Запись");
    EXPECT_EQ(c.err, "\033[1A\r\033[KttyA: Чтение данны…\n\033[KttyB: Запись\n\033[J");
    c.err.clear();
    // A result goes above the lines, and its device's line goes.
    p.finish(0, "прочитано в a.cfg");
    EXPECT_EQ(c.err, "\033[2A\r\033[J\r\033[KttyB: Запись\n\033[J");
    EXPECT_EQ(c.out, "ttyA: прочитано в a.cfg\n");
    c.err.clear();
    // A text that just fits is not cut.
    p.update(1, "1234567890123");
    EXPECT_EQ(c.err, "\033[1A\r\033[KttyB: 1234567890123\n\033[J");
}

TEST(Progress, AFailedWriteToTheOutputIsKept) {
    Captured c;
    c.outFails = true;
    Progress p(c.streams(false, 0), false);
    p.start({"ttyA"});
    p.note("на stderr");
    EXPECT_FALSE(p.outputFailed());
    p.print("результат");
    EXPECT_TRUE(p.outputFailed());
    // While the output carries a file's bytes, results go to standard error.
    Captured d;
    Progress q(d.streams(false, 0), false);
    q.start({"ttyA"});
    q.resultsToError(true);
    q.finish(0, "прочитано в стандартный вывод");
    EXPECT_EQ(d.out, "");
    EXPECT_EQ(d.err, "ttyA: прочитано в стандартный вывод\n");
}
