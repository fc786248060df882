#pragma once
// The record of a batch and the ledger of a station: one line per device, appended as that
// device ends, so that a run cut short by Ctrl+C or a time-out keeps the records of the devices
// done by then. Records are appended: a station's report grows over its runs.
//
// A device given a list row or a number has it claimed in the report before its write begins;
// what the report holds is what has been given out, to every run and every station that
// appends to it. Each append happens under the file's lock, whole or not at all.
#include "events.h"

#include "link/shared_file.h"

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tk7v::station {

struct ReportRecord {
    std::string port;
    std::string identification;
    std::string command; // read, write, verify
    std::string file;    // the configuration written, compared or read into
    std::string sha256;  // of the 512 bytes written or read; empty when none were
    std::chrono::system_clock::time_point start, end;
    std::string result;                 // claimed, done, differs, no answer, error, interrupted
    std::string message;                // what went wrong, as the terminal said it
    std::vector<std::string> differing; // the fields that differ, by name
    Given given;                        // the list row and the numbers the device was given
};

// The rows and numbers a report holds as given out: the numbers by field.
struct Taken {
    std::set<int> rows;
    std::map<std::string, std::set<long long>> numbers;
};

class Report {
public:
    // JSON Lines for a name ending in ".jsonl" (for programs), CSV for ".csv" (for people: UTF-8
    // with a byte-order mark, ";", headings in words, as a Russian spreadsheet opens it; a CSV
    // report an earlier version began with "," goes on with ","). Null with `error` set when the name has
    // neither ending or the file cannot be opened for appending; `heldElsewhere`, when given, tells
    // whether another program holds the file (a spreadsheet showing it, on Windows).
    static std::unique_ptr<Report> open(const std::string& path, std::string& error,
                                        bool* heldElsewhere = nullptr);

    // Any thread. What failed ("PATH: the system's words") when the record could not be written
    // whole, empty when it was. Nothing of a failed record stays in the file: the report keeps it
    // and writes it, in its turn, before the next record or claim, or at flush().
    std::string add(const ReportRecord& record);
    // Any thread. Writes the records kept; the failure, empty once none is left.
    std::string flush();
    // Any thread. How many records wait to be written.
    std::size_t pending() const;

    // Any thread. Under the report's lock, across threads and processes: `choose` is shown what
    // the report holds and gives the record of its claim, or nullopt to claim nothing; the
    // record is appended before the lock goes. False with `error` set when the report could not
    // be locked, read or appended to (nothing is claimed then).
    using Choose = std::function<std::optional<ReportRecord>(const Taken&)>;
    bool claim(const Choose& choose, std::string& error);

    // What a report's text holds as given out; lines that do not parse are passed over.
    static Taken TakenIn(const std::string& text, bool csv);

    // ISO 8601 local time with its offset from UTC, to the second: 2026-12-07T14:16:31+03:00.
    static std::string isoTime(std::chrono::system_clock::time_point t);

private:
    enum class Format { JsonLines, Csv };
    Report(Format format, std::string path, std::unique_ptr<SharedFile> file)
        : format_(format), path_(std::move(path)), file_(std::move(file)) {}
    std::string line(const ReportRecord& r, char separator) const;
    // Appends the record's line (after the CSV headings when the file is empty); the lock held.
    SysError appendLocked(const ReportRecord& record);
    // The kept records, then `record` when given; the lock and mutex_ held. Whatever could not be
    // written stays kept, in its order.
    SysError appendAllLocked(const ReportRecord* record);
    std::string failure(SysError e) const;

    mutable std::mutex mutex_; // the threads of this process take turns at the file's lock
    Format format_;
    std::string path_;
    std::unique_ptr<SharedFile> file_;
    std::optional<char> separator_;  // a CSV report's, once known; under mutex_
    std::vector<ReportRecord> kept_; // records not yet written, oldest first; under mutex_
};

} // namespace tk7v::station
