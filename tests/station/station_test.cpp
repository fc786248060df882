// The station's readers and writers of text on their own: the report's digest against the
// standard's vectors and its records read back field by field, configurations as JSON round trip,
// values tables as spreadsheets write them; lists and counters claimed in a report.
#include "model/field_rules.h"
#include "station/config_json.h"
#include "station/numbering.h"
#include "station/report.h"
#include "station/sha256.h"
#include "station/shown_text.h"
#include "station/values_table.h"

#include "../common/fresh_folder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tk7v::station;
namespace fs = std::filesystem;

namespace {

std::string bytesOf(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

TEST(Sha256, StandardVectors) {
    const struct {
        std::string message, digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Sha256Hex({reinterpret_cast<const std::uint8_t*>(c.message.data()), c.message.size()}),
                  c.digest)
            << c.message.size();
}

TEST(Report, RecordsReadBackFieldByField) {
    const fs::path dir = tk7v::test::FreshFolder("tk7v-report");
    std::string error;
    EXPECT_EQ(Report::open((dir / "r.txt").string(), error), nullptr);
    EXPECT_NE(error.find(".jsonl"), std::string::npos);

    // Local times in a zone west of Greenwich by hours and minutes, on a day after the twelfth
    // (a day and a month swapped would show).
    ::setenv("TZ", "<-0330>3:30", 1);
    ::tzset();
    const auto at = std::chrono::system_clock::from_time_t(1'800'000'000); // 2027-01-15 08:00:00 UTC
    const ReportRecord record{"ttyUSB0",
                              "TK7V v2.6 \"б\"",
                              "write",
                              "объект,1.cfg",
                              std::string(64, 'a'),
                              at,
                              at + std::chrono::seconds(2),
                              "differs",
                              "поля различаются",
                              {"CS1_phone_1", "RS_packets"},
                              {3, "CS1_phone_1=84951234567", {"TS_object_id=105"}}};
    for (const char* name : {"r.jsonl", "r.csv"}) {
        SCOPED_TRACE(name);
        for (int run = 0; run < 2; ++run) { // appended, the CSV header once
            auto report = Report::open((dir / name).string(), error);
            ASSERT_NE(report, nullptr) << error;
            EXPECT_EQ(report->add(record), "");
        }
    }
    std::ifstream jsonl(dir / "r.jsonl");
    std::string line;
    int lines = 0;
    while (std::getline(jsonl, line)) {
        ++lines;
        const auto j = nlohmann::json::parse(line);
        EXPECT_EQ(j["port"], "ttyUSB0");
        EXPECT_EQ(j["identification"], "TK7V v2.6 \"б\"");
        EXPECT_EQ(j["file"], "объект,1.cfg");
        EXPECT_EQ(j["sha256"], std::string(64, 'a'));
        EXPECT_EQ(j["result"], "differs");
        EXPECT_EQ(j["differing"], nlohmann::json({"CS1_phone_1", "RS_packets"}));
        EXPECT_EQ(j["row"], 3);
        EXPECT_EQ(j["row_values"], "CS1_phone_1=84951234567");
        EXPECT_EQ(j["numbers"], nlohmann::json({{"TS_object_id", 105}}));
        EXPECT_EQ(j["start"], "2027-01-15T04:30:00-03:30");
        EXPECT_EQ(j["end"], "2027-01-15T04:30:02-03:30");
    }
    EXPECT_EQ(lines, 2);
    // The CSV report opens in a Russian spreadsheet: a byte-order mark, ";", headings in words.
    const std::string all = bytesOf(dir / "r.csv");
    EXPECT_TRUE(
        all.starts_with("\xEF\xBB\xBFПорт;Устройство;Команда;Файл;SHA-256;Начало;Конец;Итог;Сообщение;"
                        "Различающиеся поля;Строка таблицы;Выданные номера;Значения строки\r\n"));
    EXPECT_NE(all.find("\"TK7V v2.6 \"\"б\"\"\";\"write\";\"объект,1.cfg\""), std::string::npos) << all;
    EXPECT_EQ(all.find("Порт;", 4), std::string::npos); // one header
    // A report an earlier version began goes on in its own form.
    std::ofstream(dir / "old.csv", std::ios::binary) << "port,identification,command,file,sha256,start,end,"
                                                        "result,message,differing\r\n\"ttyS0\",\"TK7V\"\r\n";
    ASSERT_EQ(Report::open((dir / "old.csv").string(), error)->add(record), "");
    EXPECT_TRUE(bytesOf(dir / "old.csv").ends_with("\"TS_object_id=105\",\"CS1_phone_1=84951234567\"\r\n"));
    EXPECT_NE(bytesOf(dir / "old.csv").find("\"ttyUSB0\",\"TK7V"), std::string::npos);
    // What each holds as given out, read back: the row by its values.
    for (const auto& [text, csv] : {std::pair{all, true}, std::pair{bytesOf(dir / "r.jsonl"), false},
                                    std::pair{bytesOf(dir / "old.csv"), true}}) {
        const Taken taken = Report::TakenIn(text, csv);
        EXPECT_EQ(taken.rowValues, std::set<std::string>{"CS1_phone_1=84951234567"});
        EXPECT_EQ(taken.numbers.at("TS_object_id"), std::set<long long>{105});
    }
    // Texts from outside that a spreadsheet would take for formulas: no cell begins as one, and
    // each reads back as it was.
    auto report = Report::open((dir / "f.csv").string(), error);
    for (const std::string text : {"=1+2.cfg", "+7", "-x", "@A1", "\tx", "'=1", "'", "a=1"}) {
        ReportRecord r = record;
        r.port = r.identification = r.file = r.message = text;
        ASSERT_EQ(report->add(r), "");
        const std::vector<LedgerEntry> back = Report::EntriesIn(bytesOf(dir / "f.csv"), true);
        ASSERT_FALSE(back.empty());
        EXPECT_EQ(back.back().port, text);
    }
    for (const std::string cell : {";\"=", ";\"+", ";\"-", ";\"@", ";\"\t", "\n\"="})
        EXPECT_EQ(bytesOf(dir / "f.csv").find(cell), std::string::npos) << cell;
    fs::remove_all(dir);
}

// A report or a ledger is a plain file of the user's: never a device, a pipe or a folder, never
// made through a link that leads nowhere, and never reached through a link where others may
// have put it.
TEST(Report, OpensOnlyAFileOfItsOwn) {
    const fs::path dir = tk7v::test::FreshFolder("tk7v-report");
    const fs::path open = dir / "open";
    fs::create_directory(open);
    fs::permissions(open, fs::perms::all | fs::perms::sticky_bit);
    fs::create_symlink(dir / "nowhere.csv", dir / "dangling.csv");
    fs::create_symlink("/dev/zero", dir / "zero.csv");
    fs::create_symlink(dir / "mine.csv", dir / "link.csv");
    fs::create_symlink(dir / "mine.csv", open / "planted.csv");
    std::ofstream(dir / "mine.csv") << "";
    ::mkfifo((dir / "pipe.csv").c_str(), 0600);
    fs::create_directory(dir / "folder.csv");
    const struct {
        fs::path path;
        const char* says; // empty: opened
    } cases[] = {
        {dir / "new.csv", ""},
        {dir / "link.csv", ""},
        {dir / "dangling.csv", "нет такой папки или файла"},
        {dir / "zero.csv", "устройство или канал"},
        {dir / "pipe.csv", "устройство или канал"},
        {dir / "folder.csv", "это папка"},
        {open / "planted.csv", "ссылка в папке, куда могут писать другие"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.string());
        std::string error;
        const auto report = Report::open(c.path.string(), error);
        EXPECT_EQ(report != nullptr, *c.says == 0);
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }
    EXPECT_FALSE(fs::exists(dir / "nowhere.csv"));
    fs::remove_all(dir);
}

// A record naming a row or a number that no list or counter can have is passed over with its line
// named: read as what its number wraps or clamps to, it would keep that value from ever being
// given, and one that cannot be taken apart at all stopped every claim. A row of 0 or less names
// none.
TEST(Report, ALineItCannotReadWholeIsPassedOverByNumber) {
    const auto csv = [](const std::string& row, const std::string& numbers = "") {
        return "\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"claimed\";\"\";\"\";\"" + row + "\";\"" + numbers +
               "\"\r\n";
    };
    const auto json = [](const std::string& numbers) { return "{\"numbers\":{" + numbers + "}}\n"; };
    const struct {
        std::string text;
        bool csv;
        bool passedOver = true;
    } cases[] = {
        {"{\"row\":4294967298}\n", false},           // 2^32 + 2
        {"{\"row\":18446744073709551614}\n", false}, // 2^64 - 2
        {"{\"row\":-2}\n", false, false},
        {"{\"row\":\"3\"}\n", false},
        {csv("4294967298"), true},
        {csv("99999999999999999999"), true}, // beyond a long long
        {csv("-2"), true, false},
        {json(R"("TS_object_id=":5)"), false},
        {json(R"("TS_object_id":18446744073709551614)"), false},
        {json(R"("TS_object_id":99999)"), false}, // beyond the field's range
        {json(R"("TS_object_id":5.5)"), false},
        {"{\"numbers\":[5]}\n", false},
        {csv("", "TS_object_id==5"), true},
        {csv("", "TS_object_id=99999999999999999999"), true},
        {csv("", "TS_object_id=+5"), true},
        {csv("", "TS object_id=5"), true},
        {"{\"row\":3,\n", false},
        {"\"\";\"\"\r\n", true}, // a record cut short
        {"\r\n \n", false, false},
    };
    for (const auto& c : cases) {
        const std::string three =
            c.csv ? csv("3", "TS_object_id=3") : "{\"row\":3,\"numbers\":{\"TS_object_id\":3}}\n";
        std::vector<std::size_t> passedOver;
        const Taken taken = Report::TakenIn(c.text + three, c.csv, &passedOver);
        EXPECT_EQ(taken.rows, std::set<int>{3}) << c.text;
        EXPECT_EQ(taken.numbers.at("TS_object_id"), std::set<long long>{3}) << c.text;
        EXPECT_EQ(passedOver, c.passedOver ? std::vector<std::size_t>{1} : std::vector<std::size_t>{})
            << c.text;
    }
    // One warning for the file, however many lines it passes over.
    EXPECT_EQ(PassedOverText("l.jsonl", {7}), "l.jsonl: строка 7 не читается и пропущена");
    EXPECT_EQ(PassedOverText("l.jsonl", {1, 2, 3, 5, 8, 13}),
              "l.jsonl: не читаются и пропущены строки (6): 1, 2, 3, 5, 8, …");
}

// A CSV report a spreadsheet saved again is read back whatever it chose: its separator is the one
// its headings use, with or without a byte-order mark, in UTF-8 or in Windows-1251.
TEST(Report, AReportASpreadsheetSavedAgainReadsBack) {
    for (const auto& [start, separator, heading] : {std::tuple{"\xEF\xBB\xBF", ",", "Порт"},
                                                    {"\xEF\xBB\xBF", ";", "Порт"},
                                                    {"", ",", "Порт"},
                                                    {"", ";", "\xCF\xEE\xF0\xF2"}}) { // "Порт" in 1251
        SCOPED_TRACE(std::string(start) + separator + heading);
        std::string text = start + std::string(heading);
        for (int i = 0; i < 11; ++i)
            text += separator + std::string("x"); // the other headings
        text += "\r\nttyUSB0";
        for (const char* cell :
             {"TK7V", "write", "a,b.cfg", "", "", "", "done", "", "", "", "TS_object_id=7"})
            text += separator + ("\"" + std::string(cell) + "\"");
        std::vector<std::size_t> passedOver;
        const auto entries = Report::EntriesIn(text + "\r\n", true, &passedOver);
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].given.numbers, std::vector<std::string>{"TS_object_id=7"});
        EXPECT_EQ(passedOver, std::vector<std::size_t>{});
    }
}

// What a terminal or a table shows of text from outside: nothing in it acts on the screen.
TEST(ShownText, ControlCharactersAreWrittenOut) {
    const struct {
        std::string text, shown;
        bool keepLines = false;
    } cases[] = {
        {"TK7V \x1B[31mred", "TK7V \\x1B[31mred"},
        {"a\nb\tc\r", "a\\x0Ab\\x09c\\x0D"},
        {"a\nb\tc\r", "a\nb\tc\\x0D", true},
        {"\xC2\x9B"
         "2J",
         "\\u009B2J"}, // a C1 control as UTF-8
        {"\x9B"
         "2J",
         "\\x9B2J"}, // the same byte alone: no UTF-8
        {"\xC2\xA0№ €\xF0\x9F\x94\x8C", "\xC2\xA0№ €\xF0\x9F\x94\x8C"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ControlsEscaped(c.text, c.keepLines), c.shown) << c.text;
}

TEST(ConfigJson, RoundTripsEveryFileAndRefusesWhatItCannotTake) {
    // Random files as the window would keep them (values typed into its controls): show's JSON
    // gives back the same bytes through the field rules.
    std::mt19937 random(7);
    for (int n = 0; n < 200; ++n) {
        std::vector<std::string> typed;
        for (const tk7v::FieldSpec& f : tk7v::ImageLayout()) {
            if (f.forced != tk7v::FieldSpec::Forced::No) continue; // hidden fields round trip too
            std::string v;
            if (f.kind == tk7v::FieldKind::Check || f.kind == tk7v::FieldKind::Item)
                v = std::to_string(random() % 2);
            else if (f.kind == tk7v::FieldKind::Phone)
                for (unsigned k = random() % 12; k > 0; --k)
                    v += "0123456789,"[random() % 11];
            else
                v = std::to_string(random() % (f.limit >= 5   ? 65536
                                               : f.limit == 1 ? 10
                                               : f.limit == 2 ? 100
                                                              : 1000));
            typed.push_back(std::string(f.control) + "=" + v);
        }
        tk7v::ParameterImage file = tk7v::StartupImage();
        tk7v::SetFields(file, typed, false);
        const JsonAssignments a = AssignmentsFromJson(ConfigJson(file), file);
        ASSERT_EQ(a.error, "");
        tk7v::ParameterImage back = tk7v::StartupImage();
        for (const tk7v::FieldIssue& issue : tk7v::SetFields(back, a.assignments, false))
            EXPECT_TRUE(issue.warning()) << tk7v::IssueText(issue); // values outside a caption's range
        ASSERT_EQ(back, file) << n;
    }
    const tk7v::ParameterImage start = tk7v::StartupImage();
    const struct {
        const char* json;
        const char* says;
    } refused[] = {
        {R"({"NO_SUCH": 1})", "NO_SUCH"},
        {R"({"CS1_phone_1": 8001234567})", "CS1_phone_1"},
        {R"({"CS1_hand_time": true})", "CS1_hand_time"},
        {R"({"CS1_hand_time": null})", "CS1_hand_time"},
        {R"({"CS1_active": {"value": false}})", "CS1_active"},
        {R"([1, 2])", "объект"},
    };
    for (const auto& r : refused)
        EXPECT_NE(AssignmentsFromJson(r.json, start).error.find(r.says), std::string::npos) << r.json;
    const JsonAssignments ok = AssignmentsFromJson(
        R"({"CS1_dial_pause": 5, "CS1_hand_time": "12", "TS_tone_dial_on": {"value": "Тон"}})", start);
    EXPECT_EQ(ok.error, "");
    EXPECT_EQ(ok.assignments,
              (std::vector<std::string>{"CS1_dial_pause=5", "CS1_hand_time=12", "TS_tone_dial_on=Тон"}));
}

TEST(ValuesTable, SpreadsheetFormsAllRead) {
    const std::string rows = "ttyA;101;\"8,,800\"\"1\";\r\nttyB;102;;\r\n\r\n";
    const struct {
        std::string text;
        std::size_t rows;
        const char* error;
    } cases[] = {
        {"\xEF\xBB\xBFport;TS_object_id;CS1_phone_1;CS1_hand_time\r\n" + rows, 2, ""},
        {"порт,TS_object_id\nttyA,101\n", 1, ""},
        {"port,Набор номера\nttyA,Тон\n", 1, ""},
        {"port,Телефон №1\nttyA,1\n", 0, "Телефон №1"}, // a caption of two fields
        {"TS_object_id\n1\n\n2\n", 2, ""},              // a list
        {"CS1_phone_1\n8,,4951234567\n", 1, ""},        // a phone's commas are no separators
        {"port,TS_object_id\n,1\n", 0, "строка 2"},
        {"port,TS_object_id\nttyA,\"1\n", 0, "строка"},
        // Excel's ";" file on a Russian Windows is Windows-1251: "порт;Номер объекта (0-8191)".
        {"\xEF\xEE\xF0\xF2;\xCD\xEE\xEC\xE5\xF0 \xEE\xE1\xFA\xE5\xEA\xF2\xE0 (0-8191)\r\nttyA;101\r\n", 1,
         ""},
        {"port;\xC8\xEC\xFF\r\nttyA;1\r\n", 0, "столбец «Имя»"}, // quoted readable
        {"port,TS_object_id,TS_object_id\nttyA,1,2\n", 0, "«TS_object_id» и «TS_object_id»"},
        {"port;port;TS_object_id\nttyA;ttyB;1\n", 0, "«port» и «port»"},
        {"port,порт\nttyA,ttyB\n", 0, "«port» и «порт»"},
        {"port,TS_object_id,Номер объекта (0-8191)\nttyA,1,2\n", 0,
         "«TS_object_id» и «Номер объекта (0-8191)»"},
        // Latin headings say nothing of the encoding; the cells do: "Тон" in Windows-1251.
        {"port;TS_tone_dial_on\r\nttyA;\xD2\xEE\xED\r\n", 1, ""},
    };
    for (const auto& c : cases) {
        const ValuesTable t = ReadValuesTable(c.text);
        EXPECT_NE(t.error.find(c.error), std::string::npos) << c.text << " -> " << t.error;
        EXPECT_EQ(t.error.empty(), *c.error == 0) << c.text << " -> " << t.error;
        EXPECT_EQ(t.rows.size(), c.rows) << c.text;
    }
    EXPECT_TRUE(ReadValuesTable(cases[4].text).list);
    EXPECT_EQ(ReadValuesTable(cases[4].text).rows[1].row, 3); // its number in the table
    EXPECT_EQ(ReadValuesTable(std::end(cases)[-1].text).rows.at(0).assignments,
              std::vector<std::string>{"TS_tone_dial_on=Тон"});
    const ValuesTable t = ReadValuesTable(cases[0].text);
    EXPECT_FALSE(t.list);
    ASSERT_EQ(t.rows.size(), 2u);
    EXPECT_EQ(t.rows[0].port, "ttyA");
    EXPECT_EQ(t.rows[0].assignments, (std::vector<std::string>{"TS_object_id=101", "CS1_phone_1=8,,800\"1"}));
    EXPECT_EQ(t.rows[1].assignments, (std::vector<std::string>{"TS_object_id=102"}));
}

// Lists and counters over a report: what each device is given, from a fresh report or from one
// that earlier runs wrote, until they run out; and the counters refused before anything is sent.
TEST(Numbering, EachDeviceTheNextRowAndNumberNoRecordHolds) {
    const fs::path dir = tk7v::test::FreshFolder("tk7v-numbering");
    const std::vector<ValuesRow> rows = {
        {2, "", {"CS1_phone_1=81"}}, {3, "", {"CS1_phone_1=82"}}, {5, "", {"CS1_phone_1=83"}}};
    const auto line = [](int row, int number, const char* result) {
        return "{\"result\":\"" + std::string(result) + "\",\"row\":" + std::to_string(row) +
               ",\"numbers\":{\"TS_object_id\":" + std::to_string(number) + "}}\n";
    };
    const struct {
        const char* name;
        bool list;
        std::optional<Counter> counter;
        std::string report; // what earlier runs left
        std::vector<std::string> given;
        std::string runOut; // then: the counter's field, or "" for the list
    } cases[] = {
        {"list", true, {}, "", {"2", "3", "5"}, ""},
        {"counter to its end",
         false,
         Counter{"TS_object_id", 101, 103},
         "",
         {"101", "102", "103"},
         "TS_object_id"},
        {"both: the list runs out first",
         true,
         Counter{"TS_object_id", 7, 100},
         "",
         {"2 7", "3 8", "5 9"},
         ""},
        // A failed device (its claim without a record of success) keeps its row and number; a
        // record cut short by a crash, and numbers outside the range, change nothing.
        {"resumed",
         true,
         Counter{"TS_object_id", 10, 20},
         line(2, 10, "claimed") + line(2, 10, "error") + "{\"row\":3,\"numb" + "\n" + line(0, 30, "done"),
         {"3 11", "5 12"},
         ""},
        // The last record was cut mid-line (a power cut): the next starts on a line of its own, or
        // neither would be read and its number would be given again.
        {"after a line cut short",
         false,
         Counter{"TS_object_id", 10, 12},
         line(0, 9, "done") + "{\"result\":\"claimed\",\"numbers\":{\"TS_obj",
         {"10", "11", "12"},
         "TS_object_id"},
        {"range end reached before",
         false,
         Counter{"TS_object_id", 1, 2},
         line(0, 2, "done"),
         {},
         "TS_object_id"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = dir / (std::string(c.name) + ".jsonl");
        std::ofstream(path, std::ios::binary) << c.report;
        std::string error;
        const auto report = Report::open(path.string(), error);
        ASSERT_NE(report, nullptr) << error;
        const Numbering numbering(c.list ? rows : std::vector<ValuesRow>{}, c.counter);
        std::vector<std::string> given;
        for (;;) {
            tk7v::ParameterImage image = tk7v::StartupImage();
            const Numbering::Claim claim = numbering.claim(*report, {}, image);
            if (claim.outcome != Numbering::Claim::Outcome::Given) {
                EXPECT_EQ(claim.outcome, Numbering::Claim::Outcome::RunOut) << claim.error;
                EXPECT_EQ(claim.runOut, c.runOut);
                break;
            }
            std::string words = claim.given.row ? std::to_string(claim.given.row) : "";
            const auto shown = tk7v::ViewFields(image);
            const auto value = [&](const char* field) {
                return std::find_if(shown.begin(), shown.end(),
                                    [&](auto& v) { return v.field->control == field; })
                    ->text;
            };
            if (c.counter) words += (words.empty() ? "" : " ") + value("TS_object_id");
            for (const ValuesRow& r : rows)
                if (r.row == claim.given.row) {
                    EXPECT_EQ(r.assignments[0], "CS1_phone_1=" + value("CS1_phone_1"));
                }
            given.push_back(words);
            EXPECT_EQ(claim.last, given.size() == c.given.size());
            if (claim.last) {
                EXPECT_EQ(claim.runOut, c.runOut); // the ports say what ran out
            }
            ASSERT_LE(given.size(), c.given.size());
        }
        EXPECT_EQ(given, c.given);
    }

    const tk7v::ParameterImage image = tk7v::StartupImage();
    const struct {
        const char* text;
        const char* says;
    } refused[] = {
        {"TS_object_id=9000", "от 0 до 8191"}, {"TS_object_id=5-9000", "от 0 до 8191"},
        {"TS_object_id=150-101", "больше"},    {"TS_object_id=x", "целые"},
        {"CS1_phone_1=1", "числовое"},         {"TS_object_id", "ПОЛЕ=ПЕРВЫЙ"},
    };
    for (const auto& r : refused) {
        std::string error;
        EXPECT_FALSE(ParseCounter(r.text, image, error)) << r.text;
        EXPECT_NE(error.find(r.says), std::string::npos) << r.text << " -> " << error;
    }
    std::string error;
    const auto whole = ParseCounter("TS_object_id=0", image, error);
    ASSERT_TRUE(whole) << error;
    EXPECT_EQ(whole->last, 8191);
    fs::remove_all(dir);
}

// A report that reaches the file size limit part way through a record: nothing of that record
// stays in the file, the report keeps it, and once there is room again it is written whole, in
// its turn, before the next.
TEST(Report, ARecordThatCannotBeWrittenWholeLeavesNothing) {
    const fs::path dir = tk7v::test::FreshFolder("tk7v-report-full");
    std::signal(SIGXFSZ, SIG_IGN); // the write fails instead of ending the process
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    for (const char* name : {"r.csv", "r.jsonl"}) {
        SCOPED_TRACE(name);
        std::string error;
        const auto report = Report::open((dir / name).string(), error);
        ASSERT_NE(report, nullptr) << error;
        ReportRecord record;
        record.port = "ttyA";
        record.result = "done";
        ASSERT_EQ(report->add(record), "");
        const std::string before = bytesOf(dir / name);
        rlimit tight = saved;
        tight.rlim_cur = before.size() + 20;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tight), 0);
        // Two devices end meanwhile (on other ports): the second is kept behind the first.
        for (const char* port : {"ttyB", "ttyC"}) {
            record.port = port;
            EXPECT_NE(report->add(record), "");
        }
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &saved), 0);
        EXPECT_EQ(bytesOf(dir / name), before);
        EXPECT_EQ(report->pending(), 2u);
        record.port = "ttyD";
        EXPECT_EQ(report->add(record), "");
        EXPECT_EQ(report->pending(), 0u);
        const std::string after = bytesOf(dir / name);
        EXPECT_TRUE(after.starts_with(before));
        EXPECT_LT(after.find("ttyB"), after.find("ttyC"));
        EXPECT_LT(after.find("ttyC"), after.find("ttyD"));
        EXPECT_EQ(std::count(after.begin(), after.end(), '\n'), std::string(name) == "r.csv" ? 5 : 4);
        // Another program holds the file: the wait keeps its limit, and the record is kept.
        const int held = ::open((dir / name).c_str(), O_RDWR);
        ASSERT_EQ(::flock(held, LOCK_EX), 0);
        LockWait wait;
        wait.limit = std::chrono::milliseconds(100);
        const auto asked = std::chrono::steady_clock::now();
        record.port = "ttyE";
        EXPECT_NE(report->add(record, wait), "");
        EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(2));
        ::close(held);
        EXPECT_EQ(report->flush(), "");
        EXPECT_NE(bytesOf(dir / name).find("ttyE"), std::string::npos);
    }
    std::signal(SIGXFSZ, SIG_DFL);
    fs::remove_all(dir);
}

// Two stations on one report, each a process of its own claiming numbers as fast as it can: the
// report's lock is all that keeps them from reading the same last number, so no number may be
// given twice.
TEST(Numbering, TwoProcessesClaimingFromOneReportNeverShareANumber) {
    const fs::path dir = tk7v::test::FreshFolder("tk7v-numbering-two");
    const std::string path = (dir / "shared.jsonl").string();
    const Numbering numbering({}, Counter{"TS_object_id", 1, 8191});
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    pid_t stations[2];
    for (pid_t& pid : stations) {
        if ((pid = ::fork()) != 0) continue;
        ::close(gate[1]);
        char c;
        bool failed = ::read(gate[0], &c, 1) != 0; // both start as the gate closes
        std::string error;
        const auto report = Report::open(path, error);
        for (int n = 0; n < 100 && report && !failed; ++n) {
            tk7v::ParameterImage image = tk7v::StartupImage();
            failed = numbering.claim(*report, {}, image).outcome != Numbering::Claim::Outcome::Given;
        }
        ::_exit(report && !failed ? 0 : 1);
    }
    ::close(gate[0]);
    ::close(gate[1]);
    for (const pid_t pid : stations) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    std::vector<long long> given;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        const auto record = nlohmann::json::parse(line, nullptr, false);
        ASSERT_TRUE(record.is_object()) << line;
        given.push_back(record.at("numbers").at("TS_object_id").get<long long>());
    }
    std::sort(given.begin(), given.end());
    EXPECT_EQ(given.size(), 200u);
    EXPECT_EQ(std::adjacent_find(given.begin(), given.end()), given.end()) << "a number given twice";
    fs::remove_all(dir);
}
