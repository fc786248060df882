#pragma once
// The record of a batch: one line per device, written and flushed as that device ends, so that a
// run cut short by Ctrl+C or a time-out keeps the records of the devices done by then. Records
// are appended: a station's report grows over its runs.
#include <chrono>
#include <fstream>
#include <memory>
#include <mutex>
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
    std::string result;                 // done, differs, no answer, error, interrupted
    std::string message;                // what went wrong, as the terminal said it
    std::vector<std::string> differing; // the fields that differ, by name
};

class Report {
public:
    // JSON Lines for a name ending in ".jsonl", CSV (UTF-8, a header when the file is new) for
    // ".csv". Null with `error` set when the name has neither ending or the file cannot be
    // opened for appending.
    static std::unique_ptr<Report> open(const std::string& path, std::string& error);

    // Any thread. False when the record could not be written whole.
    bool add(const ReportRecord& record);

    // ISO 8601 local time with its offset from UTC, to the second: 2026-12-07T14:16:31+03:00.
    static std::string isoTime(std::chrono::system_clock::time_point t);

private:
    enum class Format { JsonLines, Csv };
    Report(Format format, std::ofstream out) : format_(format), out_(std::move(out)) {}

    std::mutex mutex_;
    Format format_;
    std::ofstream out_;
};

} // namespace tk7v::station
