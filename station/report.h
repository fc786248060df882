#pragma once
// The record of a batch and the ledger of a station: one line per device, appended as that
// device ends, so that a run cut short by Ctrl+C or a time-out keeps the records of the devices
// done by then. Records are appended: a station's report grows over its runs.
//
// A device given a list row or a number has it claimed in the report before its write begins;
// what the report holds is what has been given out, to every run and every station that
// appends to it. Each append happens under the file's lock, whole or not at all.
#include "events.h"
#include "ledger.h"

#include "link/shared_file.h"

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tk7v::station {

class Report : public Ledger {
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
    std::string add(const ReportRecord& record, const LockWait& wait = {});
    // Any thread. Writes the records kept; the failure, empty once none is left.
    std::string flush(const LockWait& wait = {});
    // Any thread. How many records wait to be written.
    std::size_t pending() const;

    // The report as a ledger: a claim is appended as a record of its own ("claimed"), before the
    // lock goes; the records kept are written first, so the report keeps the order things
    // happened in.
    bool claim(const Choose& choose, std::string& error, const LockWait& wait = {}) override;
    bool look(const Ask& ask, std::string& error, const LockWait& wait = {}) override;
    std::string name() const override { return path_; }
    bool entries(const EachEntry& each, std::string& error, const LockWait& wait = {}) override;
    // Each record of `file`, a report's, read a part at a time.
    static SysError ReadRecords(SharedFile& file, bool csv, const EachEntry& each,
                                std::vector<std::size_t>* passedOver = nullptr);

    // The records a report's text holds, as a ledger lists them. A line that holds no record this
    // reads whole (cut short, another program's, a row or number beyond what any could be given)
    // is passed over rather than read in part, and its number, from 1, goes to `passedOver`:
    // nothing a ledger holds stops a run.
    static std::vector<LedgerEntry> EntriesIn(const std::string& text, bool csv,
                                              std::vector<std::size_t>* passedOver = nullptr);
    // What a report's text holds as given out, as EntriesIn reads it.
    static Taken TakenIn(const std::string& text, bool csv, std::vector<std::size_t>* passedOver = nullptr);
    // Each record of `text`, whole lines of a report whose first is line `firstLine` + 1 (CSV
    // cells between `separator`s, unless the first line of the file is among them and says).
    static void ForEachRecord(std::string_view text, bool csv, const std::function<void(LedgerEntry&&)>& each,
                              std::vector<std::size_t>* passedOver = nullptr, std::size_t firstLine = 0,
                              char separator = ';');
    // The lines of the file that claims passed over, from 1, as read so far.
    std::vector<std::size_t> passedOver() const;

    // ISO 8601 local time with its offset from UTC, to the second: 2026-12-07T14:16:31+03:00.
    static std::string isoTime(std::chrono::system_clock::time_point t);

private:
    enum class Format { JsonLines, Csv };
    Report(Format format, std::string path, std::unique_ptr<SharedFile> file)
        : format_(format), path_(std::move(path)), file_(std::move(file)) {}
    struct Taking; // a blocking take of the file's lock, on a thread of its own
    std::string line(const ReportRecord& r, char separator) const;
    // Appends the record's line (after the CSV headings when the file is empty); the lock held.
    SysError appendLocked(const ReportRecord& record);
    // The kept records, then `record` when given; the lock and mutex_ held. Whatever could not be
    // written stays kept, in its order.
    SysError appendAllLocked(const ReportRecord* record);
    std::string failure(SysError e) const;
    enum class LineIs { Record, Nothing, Spoilt };
    // One line of a report, without its line end; with `givenOnly`, only what it gave out.
    static LineIs ReadRecord(std::string_view line, bool csv, char separator, LedgerEntry& e,
                             bool givenOnly = false);
    // Reads what was appended since the last time into index_, or the whole file again when it
    // was rewritten; the lock and mutex_ held.
    SysError indexLocked();
    // Takes the file's lock within the wait's limit; mutex_ held. Empty when taken, else why not.
    std::string lockFile(const LockWait& wait);

    mutable std::mutex mutex_; // the threads of this process take turns at the file's lock
    Format format_;
    std::string path_;
    std::shared_ptr<SharedFile> file_; // shared with a take of its lock that may outlive a wait
    std::optional<char> separator_;    // a CSV report's, once known; under mutex_
    std::vector<ReportRecord> kept_;   // records not yet written, oldest first; under mutex_
    std::shared_ptr<Taking> taking_;   // the take under way, if any; under mutex_
    // What the file's records give out, read up to indexedTo_ (whole lines, indexedLines_ of
    // them); its first bytes and the last ones read, to know the file again; the lines that held
    // no record. Under mutex_.
    Taken index_;
    std::uint64_t indexedTo_ = 0;
    std::size_t indexedLines_ = 0;
    std::string indexHead_, indexEdge_;
    std::vector<std::size_t> passedOver_;
};

} // namespace tk7v::station
