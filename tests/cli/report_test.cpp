// The report's pieces on their own: the digest against the standard's vectors, the time stamp's
// form, and records read back field by field in both formats.
#include "report.h"
#include "sha256.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <regex>

using namespace tk7v::cli;
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

    const auto at = std::chrono::system_clock::from_time_t(1'800'000'000);
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
        EXPECT_EQ(j["start"], Report::isoTime(at));
        EXPECT_TRUE(std::regex_match(j["end"].get<std::string>(),
                                     std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)")));
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
