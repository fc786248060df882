// What a claim costs as a ledger grows: a file of 100,000 records (CSV and JSON Lines) and a
// server holding 1,000,000 given values, against an empty one; the first claim of a process
// (which reads the file once) with its peak memory, and the claims after it.
#include "bench.h"

#include "station/numbering.h"
#include "station/report.h"

#include <fstream>
#include <sys/wait.h>

namespace tk7v::bench {

namespace {

using station::Numbering;

constexpr int kRecords = 100'000;

const Numbering& Counting() {
    static const Numbering n({}, station::Counter{"TS_object_id", 1, 8191});
    return n;
}

// One claim on the ledger at `where`, in a process of its own as a `tk7v-cli write` is: its time
// from opening the ledger, and the process's peak memory (MB).
std::pair<double, double> FirstClaim(const std::string& where) {
    const std::string command =
        std::filesystem::read_symlink("/proc/self/exe").string() + " --claim-probe '" + where + "'";
    FILE* out = ::popen(command.c_str(), "r");
    double ms = 1e9, mb = 1e9;
    if (out && std::fscanf(out, "%lf %lf", &ms, &mb) != 2) ms = mb = 1e9;
    if (out) ::pclose(out);
    return {ms, mb};
}

// `tk7v-cli ledger show` of the ledger at `where`: its peak memory (MB), and its time in `ms`.
double ShowMemory(const std::string& where, double& ms) {
    const auto t0 = Clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::execl(TK7V_CLI, TK7V_CLI, "ledger", "show", where.c_str(), "--timeout", "600", nullptr);
        ::_exit(127);
    }
    rusage usage{};
    int status = 0;
    ::wait4(child, &status, 0, &usage);
    ms = MsSince(t0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? usage.ru_maxrss / 1024.0 : 1e9;
}

// Claims after the first on one ledger: the median.
double LaterClaims(const std::string& where) {
    std::string error;
    const auto ledger = station::OpenLedger(where, "list.csv", std::chrono::seconds(5), error);
    if (!ledger) return 1e9;
    ParameterImage image = StartupImage();
    Counting().claim(*ledger, {}, image);
    return Stats(Repeat(50, [&] {
               const auto t0 = Clock::now();
               ParameterImage image = StartupImage();
               return Counting().claim(*ledger, {}, image).outcome == Numbering::Claim::Outcome::Given ? MsSince(t0)
                                                                                                      : 1e9;
           }))
        .median;
}

// A ledger file of `records` records as a station writes them, each a device given a number
// (up to 8,000, then again: the counter's highest is what a claim must find).
void Fill(const std::string& path, int records) {
    std::filesystem::remove(path);
    std::string error;
    station::ReportRecord r{"ttyUSB0", "TK7V v2.6", "write", "объект.cfg", std::string(64, 'a'),
                            std::chrono::system_clock::now(), std::chrono::system_clock::now(), "done", "", {},
                            {0, {}, {"TS_object_id=1"}}};
    station::Report::open(path, error)->add(r);
    std::ifstream in(path, std::ios::binary);
    std::string head, line, text;
    if (path.ends_with(".csv")) std::getline(in, head);
    std::getline(in, line);
    const std::size_t at = line.find("TS_object_id=1") + 13;
    text = head.empty() ? "" : head + "\n";
    for (int i = 0; i < records; ++i)
        text += line.substr(0, at) + std::to_string(1 + i % 8000) + line.substr(at + 1) + "\n";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

void Figure(const std::string& what, const std::string& empty, const std::string& full) {
    const auto [base, baseMb] = FirstClaim(empty);
    const auto [first, mb] = FirstClaim(full);
    std::printf("%s: first claim %.1f ms against %.1f ms empty, peak %.0f MB (%.0f MB empty)\n", what.c_str(), first,
                base, mb, baseMb);
    Report(what + ", first claim over an empty one", std::max(first, base) >= 1e9 ? 1e9 : first - base, "ms", 60.0);
    Report(what + ", peak memory of the claiming process", mb, "MB", 60.0);
    Report(what + ", a later claim, median", LaterClaims(full), "ms", 20.0);
    double ms = 0;
    const double shown = ShowMemory(full, ms);
    std::printf("%s: ledger show in %.0f ms\n", what.c_str(), ms);
    Report(what + ", peak memory of ledger show", shown, "MB", 60.0);
}

} // namespace

int ClaimProbe(const char* where) {
    const auto t0 = Clock::now();
    std::string error;
    const auto ledger = station::OpenLedger(where, "list.csv", std::chrono::seconds(5), error);
    ParameterImage image = StartupImage();
    const bool given = ledger && Counting().claim(*ledger, {}, image).outcome == Numbering::Claim::Outcome::Given;
    const double ms = MsSince(t0);
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("%f %f\n", given ? ms : 1e9, usage.ru_maxrss / 1024.0);
    return given ? 0 : 1;
}

void LedgerFigures() {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "tk7v-bench-ledger";
    std::filesystem::create_directories(dir);
    for (const char* kind : {"csv", "jsonl"}) {
        const std::string empty = (dir / (std::string("empty.") + kind)).string(),
                          full = (dir / (std::string("full.") + kind)).string();
        Fill(empty, 0);
        Fill(full, kRecords);
        Figure(std::string(kind) + " ledger of 100,000 records", empty, full);
    }
    std::filesystem::remove_all(dir);

    const std::string pg = (std::filesystem::temp_directory_path() / "tk7v-bench-ledger-pg").string();
    const std::string script = std::string(TK7V_SOURCE) + "/scripts/test-postgres";
    const auto server = [&](const std::string& what) {
        return std::system((script + " " + what + " " + pg + " >/dev/null 2>&1").c_str()) == 0;
    };
    server("stop");
    if (!server("start")) return Report("ledger server started", 0, "", 1, false);
    std::string uri;
    std::getline(std::ifstream(pg + "/uri"), uri);
    const std::string emptyDb = uri, fullDb = uri.substr(0, uri.rfind('/')) + "/tk7v_full";
    const auto psql = [&](const std::string& db, const std::string& sql) {
        return std::system(("psql -q -X '" + db + "' -c \"" + sql + "\" >/dev/null").c_str()) == 0;
    };
    psql(uri, "CREATE DATABASE tk7v_full");
    // The tables as this version makes them, then a million numbers given across fields.
    FirstClaim(fullDb);
    psql(fullDb, "INSERT INTO tk7v_given SELECT 'F' || (n % 1000), '', n, (SELECT min(id) FROM tk7v_records) "
                 "FROM generate_series(1, 1000000) AS n; ANALYZE");
    FirstClaim(emptyDb);
    Figure("server ledger of 1,000,000 given values", emptyDb, fullDb);
    server("stop");
}

} // namespace tk7v::bench
