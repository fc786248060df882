// Labels as a user gets them from `tk7v-cli write --label FOLDER`: one PDF for each device read
// back and proven, none for one that failed, its text and its 2D code read back from the page as a
// phone or a scanner would read them; and the same label again from the device's record.
#include "../common/sim_process.h"
#include "cli_run.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <regex>

using tk7v::test::SimProcess;
using CliLabel = tk7v::test::CliFixture;

namespace {

// What a command printed; the test fails when it did not run.
std::string Output(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    EXPECT_EQ(::pclose(pipe), 0) << command;
    return out;
}

std::string Quoted(const std::filesystem::path& p) { return "'" + p.string() + "'"; }

// The page's text, and its 2D code as zbarimg decodes it from the page drawn at 300 dpi.
std::pair<std::string, std::string> ReadBack(const std::filesystem::path& pdf) {
    const std::filesystem::path png = pdf.parent_path() / "page";
    Output("pdftoppm -r 300 -png -singlefile " + Quoted(pdf) + " " + Quoted(png));
    return {Output("pdftotext " + Quoted(pdf) + " -"), Output("zbarimg --raw -q " + Quoted(png.string() + ".png"))};
}

std::vector<std::filesystem::path> PdfsIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> found;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        if (e.path().extension() == ".pdf") found.push_back(e.path());
    return found;
}

} // namespace

TEST_F(CliLabel, OneLabelForEachDeviceProvenNoneForOneThatFailed) {
    ASSERT_EQ(run({"new", "-o", path("site.cfg")}).status, 0);
    ASSERT_EQ(run({"set", path("site.cfg"), "CS1_phone_1=8,,8001234567"}).status, 0);
    // The third device changes its object number behind the program's back: its read-back
    // differs, and it gets no label.
    SimProcess a, b, stuck({"--stuck", "226=5"});
    const auto w = run({"write", path("site.cfg"), "--port", a.port(), "--port", b.port(), "--port", stuck.port(),
                        "--number", "TS_object_id=701-710", "--report", path("report.jsonl"), "--label",
                        path("labels")});
    EXPECT_EQ(w.status, 1) << w.err;
    // Each proven device's number, from its result line.
    std::map<std::string, std::string> proven; // number -> port
    const std::regex done("(\\S+): записано и проверено, TS_object_id=(\\d+)");
    for (std::sregex_iterator m(w.out.begin(), w.out.end(), done), end; m != end; ++m)
        proven[(*m)[2]] = (*m)[1];
    ASSERT_EQ(proven.size(), 2u) << w.out;

    const std::vector<std::filesystem::path> pdfs = PdfsIn(path("labels"));
    ASSERT_EQ(pdfs.size(), 2u);
    std::map<std::string, std::string> codes; // number -> what its code holds
    for (const auto& pdf : pdfs) {
        const std::string number = pdf.filename().string().substr(0, 3);
        ASSERT_TRUE(proven.count(number)) << pdf;
        const auto [text, code] = ReadBack(pdf);
        EXPECT_NE(text.find(number), std::string::npos) << text;
        EXPECT_NE(text.find("8,,8001234567"), std::string::npos) << text;
        EXPECT_TRUE(std::regex_match(code, std::regex(number + " [0-9a-f]{16}\\n"))) << code;
        codes[number] = code;
    }

    // Again from the record: the same code, for the same block; none for the failed device.
    const std::string again = proven.begin()->first;
    const auto r = run({"label", path("report.jsonl"), "--number", again, "--label", path("again")});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(PdfsIn(path("again")).size(), 1u);
    EXPECT_EQ(ReadBack(PdfsIn(path("again"))[0]).second, codes[again]);
    std::smatch failed;
    ASSERT_TRUE(std::regex_search(w.err, failed, std::regex("проверка не пройдена, различается полей: 1, TS_object_id=(\\d+)")))
        << w.err;
    const std::string failedNumber = failed[1];
    EXPECT_EQ(run({"label", path("report.jsonl"), "--number", failedNumber, "--label", path("none")}).status, 1);
    EXPECT_FALSE(std::filesystem::exists(path("none")) && !PdfsIn(path("none")).empty());
}
