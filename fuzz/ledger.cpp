// A ledger of any bytes, read and claimed from: whatever a report file holds (a record cut short,
// lines of other programs, a line of megabytes, numbers no counter takes, CSV with an open quote,
// UTF-8 or Windows-1251), reading it neither crashes nor reads out of bounds, and no list row or
// number that the file records as given is given again.
//
// The input is the file as found, with a few bytes that no text holds standing for what happens to
// it meanwhile:
//   0x00    a claim by this station: the report appends its record (the first 16 claims; a
//           ledger read whole for each claim would make an input of thousands slow, not deeper)
//   0x01 X  the file saved back by another program: X % 3 = 0 its lines end in LF, 1 in CR LF,
//           2 its last line break is dropped (what is written next then starts a line of its own,
//           as this station's records do: bytes glued to the end of a record spoil it for any
//           reader)
//   0x02 X  a line of a megabyte of X (a space stands for a line break: a million empty lines
//           would try nothing but the time), twice at most, as each claim reads the whole file;
//           two in a row make a line of two megabytes
//   0x03 N  N + 1 zero bytes, as a power cut leaves a block the system gave the file but never
//           wrote
// Every other byte is appended as it is. Two claims follow the input, so that a ledger on its own
// (the corpus holds real ones) is read and claimed from. Each input is tried as a CSV report and as
// JSON Lines.
//
// What the file records as given is known two ways: what the reader showed a claim as given, which
// the claim must keep clear of, and the claims made here, whose records stay in the file whatever
// comes around them, so the reader must go on finding every one of them.
#include "model/parameter_image.h"
#include "station/numbering.h"
#include "station/report.h"

#include "common/fresh_folder.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>

using namespace tk7v;
using namespace tk7v::station;

namespace {

constexpr int kClaimsAtMost = 16;
constexpr std::size_t kLongLine = std::size_t(1) << 20;
constexpr int kLongLinesAtMost = 2;

// A folder of this process's own, gone when it ends.
const std::filesystem::path& Folder() {
    static const struct Made {
        std::filesystem::path path = test::FreshFolder("tk7v-fuzz-ledger");
        ~Made() {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
    } made;
    return made.path;
}

[[noreturn]] void Fail(const std::string& why) {
    std::fprintf(stderr, "finding: %s\n", why.c_str());
    std::abort();
}

std::string BytesOf(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Append(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
}

// The file as another program saves it back: every line break its own way, or the last one gone.
void SaveBack(const std::filesystem::path& path, unsigned char how) {
    const std::string text = BytesOf(path);
    std::string saved;
    if (how % 3 == 2) {
        saved = text;
        if (saved.ends_with('\n')) saved.pop_back();
        if (saved.ends_with('\r')) saved.pop_back();
    } else {
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
            if (text[i] == '\n' && how % 3 == 1) saved += '\r';
            saved += text[i];
        }
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << saved;
}

// The report as a ledger, and what the file held as given before its last claim, read whole by
// another reader than the report's own, which reads only what was appended since its last claim.
class Shown : public Ledger {
public:
    explicit Shown(Report& report) : report_(report) {}
    bool claim(const Choose& choose, std::string& error, const LockWait& wait) override {
        shown = Held();
        return report_.claim(choose, error, wait);
    }
    bool look(const Ask& ask, std::string& error, const LockWait& wait) override {
        return report_.look(ask, error, wait);
    }
    bool entries(const EachEntry& each, std::string& error, const LockWait& wait) override {
        return report_.entries(each, error, wait);
    }
    std::string name() const override { return report_.name(); }
    Taken Held() const {
        return Report::TakenIn(BytesOf(report_.name()), report_.name().ends_with(".csv"));
    }

    Taken shown;

private:
    Report& report_;
};

// A station giving each device the next row of a list and the next number of a counter.
class Station {
public:
    explicit Station(Report& report) : ledger_(report) {}

    // Whether something was given (and its record appended).
    bool claim() {
        ParameterImage image = StartupImage();
        ReportRecord record;
        record.port = "ttyFUZZ";
        record.command = "write";
        const Numbering::Claim c = numbering_.claim(ledger_, record, image);
        if (c.outcome == Numbering::Claim::Outcome::Failed) Fail(c.error);
        if (c.outcome != Numbering::Claim::Outcome::Given) return false;
        const int row = c.given.row;
        if (ledger_.shown.rows.contains(row) || ledger_.shown.rowValues.contains(c.given.rowValues))
            Fail("row " + std::to_string(row) + " given though read as given");
        if (!rows_.emplace(row, c.given.rowValues).second) Fail("row " + std::to_string(row) + " given twice");
        const std::string& n = c.given.numbers.at(0); // "TS_object_id=N"
        const long long number = std::stoll(n.substr(n.find('=') + 1));
        if (ledger_.shown.numbers[kField].contains(number)) Fail(n + " given though read as given");
        if (!numbers_.insert(number).second) Fail(n + " given twice");
        return true;
    }

    // Every row and number given here is still read as given.
    void check() {
        Taken taken = ledger_.Held();
        for (const auto& [row, values] : rows_)
            if (!taken.rows.contains(row) && !taken.rowValues.contains(values))
                Fail("row " + std::to_string(row) + " given, then not read");
        for (const long long number : numbers_)
            if (!taken.numbers[kField].contains(number))
                Fail(std::string(kField) + "=" + std::to_string(number) + " given, then not read");
    }

private:
    static constexpr const char* kField = "TS_object_id";
    static std::vector<ValuesRow> List() {
        std::vector<ValuesRow> rows;
        for (int row = 2; row <= 200; ++row)
            rows.push_back({row, "", {"CS1_phone_1=" + std::to_string(100 + row)}});
        return rows;
    }
    const Numbering numbering_{List(), Counter{kField, 0, 8191}};
    Shown ledger_;
    std::map<int, std::string> rows_; // with the values they were given by
    std::set<long long> numbers_;
};

void Try(const std::uint8_t* data, std::size_t size, const char* name) {
    const std::filesystem::path path = Folder() / name;
    std::ofstream(path, std::ios::binary | std::ios::trunc).close();
    std::string error;
    const auto report = Report::open(path.string(), error);
    if (!report) Fail(error);
    Station station(*report);
    int claims = 0;
    std::string pending;     // bytes of the file not yet written
    bool lineBroken = false; // the last line break was dropped
    int longLines = 0;
    const auto write = [&] {
        if (pending.empty()) return;
        if (lineBroken) pending.insert(0, "\n");
        Append(path, pending);
        pending.clear();
        lineBroken = false;
    };
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned char b = data[i];
        if (b > 0x03) {
            pending += static_cast<char>(b);
            continue;
        }
        write();
        if (b == 0x00) {
            if (claims++ < kClaimsAtMost && station.claim()) lineBroken = false;
        } else if (i + 1 < size) {
            const unsigned char x = data[++i];
            if (b == 0x01) {
                SaveBack(path, x);
                lineBroken = lineBroken || x % 3 == 2;
            } else if (b == 0x02 && longLines++ < kLongLinesAtMost) {
                pending.assign(kLongLine, x == '\n' ? ' ' : static_cast<char>(x));
                write();
            } else if (b == 0x03) {
                pending.assign(x + std::size_t(1), '\0');
                write();
            }
        }
    }
    write();
    station.claim();
    station.claim();
    station.check();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Try(data, size, "ledger.csv");
    Try(data, size, "ledger.jsonl");
    return 0;
}
