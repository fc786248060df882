// The station's readers and writers of text on their own: the report's digest against the
// standard's vectors and its records read back field by field, configurations as JSON round trip,
// values tables as spreadsheets write them.
#include "model/field_rules.h"
#include "station/config_json.h"
#include "station/report.h"
#include "station/sha256.h"
#include "station/values_table.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>

using namespace tk7v::station;
namespace fs = std::filesystem;

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
    const fs::path dir = fs::temp_directory_path() / ("tk7v-report-" + std::to_string(::getpid()));
    fs::create_directories(dir);
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
                              {"CS1_phone_1", "RS_packets"}};
    for (const char* name : {"r.jsonl", "r.csv"}) {
        SCOPED_TRACE(name);
        for (int run = 0; run < 2; ++run) { // appended, the CSV header once
            auto report = Report::open((dir / name).string(), error);
            ASSERT_NE(report, nullptr) << error;
            EXPECT_TRUE(report->add(record));
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
        EXPECT_EQ(j["start"], "2027-01-15T04:30:00-03:30");
        EXPECT_EQ(j["end"], "2027-01-15T04:30:02-03:30");
    }
    EXPECT_EQ(lines, 2);
    std::ifstream csv(dir / "r.csv", std::ios::binary);
    const std::string all{std::istreambuf_iterator<char>(csv), std::istreambuf_iterator<char>()};
    EXPECT_TRUE(
        all.starts_with("port,identification,command,file,sha256,start,end,result,message,differing\r\n"));
    EXPECT_NE(all.find("\"TK7V v2.6 \"\"б\"\"\",\"write\",\"объект,1.cfg\""), std::string::npos) << all;
    EXPECT_EQ(all.find("port,", 1), std::string::npos); // one header
    fs::remove_all(dir);
}

TEST(ConfigJson, RoundTripsEveryFileAndRefusesWhatItCannotTake) {
    // Random files as the window would keep them (values typed into its controls): show's JSON
    // gives back the same bytes through the field rules.
    std::mt19937 random(7);
    for (int n = 0; n < 200; ++n) {
        std::vector<std::string> typed;
        for (const tk7v::FieldSpec& f : tk7v::ImageLayout()) {
            if (f.hidden || f.forced != tk7v::FieldSpec::Forced::No) continue;
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
        {R"({"RS_packets": {"value": "9"}})", "RS_packets"},
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
        {"TS_object_id\n1\n", 0, "port"},
        {"port,TS_object_id\n,1\n", 0, "строка 2"},
        {"port,TS_object_id\nttyA,\"1\n", 0, "строка"},
    };
    for (const auto& c : cases) {
        const ValuesTable t = ReadValuesTable(c.text);
        EXPECT_NE(t.error.find(c.error), std::string::npos) << c.text << " -> " << t.error;
        EXPECT_EQ(t.error.empty(), *c.error == 0) << c.text << " -> " << t.error;
        EXPECT_EQ(t.rows.size(), c.rows) << c.text;
    }
    const ValuesTable t = ReadValuesTable(cases[0].text);
    ASSERT_EQ(t.rows.size(), 2u);
    EXPECT_EQ(t.rows[0].port, "ttyA");
    EXPECT_EQ(t.rows[0].assignments, (std::vector<std::string>{"TS_object_id=101", "CS1_phone_1=8,,800\"1"}));
    EXPECT_EQ(t.rows[1].assignments, (std::vector<std::string>{"TS_object_id=102"}));
}
