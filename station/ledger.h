#pragma once
// What has been given out: the rows of lists and the numbers of counters, each claimed by one
// device before its first chunk, across runs, days, reports and processes. The same field and
// range on the same ledger never give a value twice. A file is the first kind (the report's own
// format, so a command-line report that is its own ledger stays one file); others may hold it
// for many stations.
#include "events.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
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

// A list's row as a ledger knows it: by the values it gives, so that the same row in any copy of
// a list, under any name, is given once and another list starts at its own first row; and by its
// place in the list, for people and for the records of earlier versions, which named only that.
struct ListRow {
    int row = 0;
    std::string values; // RowValues of the row
};

// What has been given out, as a claim asks it under the ledger's lock: each question is answered
// by the ledger itself (an index, a query), never by handing over all it ever gave.
class GivenSoFar {
public:
    virtual ~GivenSoFar() = default;
    // The highest number of `field` given within [first, last]; none when none was.
    virtual std::optional<long long> highest(const std::string& field, long long first, long long last) const = 0;
    virtual bool numberGiven(const std::string& field, long long value) const = 0;
    // The place in `rows` of the first row not given out; rows.size() when each one was.
    virtual std::size_t firstFree(const std::vector<ListRow>& rows, std::size_t from = 0) const = 0;
};

// What a file's records hold as given out, kept in memory: the numbers by field, the rows by their
// values, and the rows that records of earlier versions named only by place (taken in any list,
// as those versions took them).
struct Taken : GivenSoFar {
    std::set<int> rows;
    std::set<std::string> rowValues;
    std::map<std::string, std::set<long long>> numbers;

    void add(const Given& given);
    std::optional<long long> highest(const std::string& field, long long first, long long last) const override;
    bool numberGiven(const std::string& field, long long value) const override;
    std::size_t firstFree(const std::vector<ListRow>& rows, std::size_t from = 0) const override;
};

class Ledger;

// The ledger at `where`: a server's when it is an address ("postgresql://…"), rows of a list kept
// under `list` and each wait for the server at most `timeout`; else the file's (a report).
std::unique_ptr<Ledger> OpenLedger(const std::string& where, const std::string& list,
                                   std::chrono::milliseconds timeout, std::string& error);

enum class LedgerRead { Read, NotALedger, FileFailed, ServerFailed };

// Moves a bench from the file ledger `file` (a ledger's or a report's) to the server at `address`:
// every record that gave something, with every value it gave, kept as given there, a few hundred
// at a time; values the server holds already stay as they are, so an import cut short is run
// again. Rows that earlier versions named only by their place go under `legacyList` (a list's
// file name), which must then be given. What was moved goes to `count`.
struct ImportCount {
    std::size_t records = 0, values = 0, already = 0;
};
LedgerRead ImportLedger(const std::string& file, const std::string& address, const std::string& legacyList,
                        std::chrono::milliseconds timeout, ImportCount& count,
                        std::vector<std::size_t>& passedOver, std::string& error);

// A record as a ledger holds it, for people asking what went where.
struct LedgerEntry {
    std::string port, station, identification;
    std::string when;   // when it was kept: ISO 8601 local time
    std::string result; // claimed, done, error, …
    std::string list;   // the list its row is of; empty when the ledger does not say
    Given given;
    std::string sha256; // of the block the record's device got; empty when none or not kept
};

// One value given out: a list's row (`field` empty) or a counter's number, the record that
// claimed it, and the last word on the device it went to.
struct GivenValue {
    std::string field, list;
    long long value = 0;
    LedgerEntry claim;
    std::string result;
};
// Words one space apart, as records keep the fields that differ and the numbers given.
std::string SpaceJoined(const std::vector<std::string>& words);

// Writes `bytes` as the whole of `file`: beside it first, then renamed over it, so that the file is
// there whole or not at all. The failure in words, naming the file; empty when none.
std::string WriteWholeFile(const std::filesystem::path& file, const std::string& bytes);

// A number given, "FIELD=VALUE", taken apart. False when it is none: a field's name is a control's
// (letters, digits, "_"), the value an integer within a long long and, for a field the layout
// knows, within its range; a counter never gives any other, so one read as given is no record's.
bool SplitGiven(std::string_view given, std::string& field, long long& value);

// The one warning on the lines of a ledger's file that were passed over, by their numbers (from
// 1, in order): the file, how many, and the first of them.
std::string PassedOverText(const std::string& path, const std::vector<std::size_t>& lines);

// Each value records (oldest first, as they are added) gave out, once, in the order given; each
// with the last word on its device.
class GivenValueList {
public:
    void add(const LedgerEntry& e);
    const std::vector<GivenValue>& values() const { return values_; }

private:
    std::vector<GivenValue> values_;
    // Each value's place in values_, by (field, list or row values, value).
    std::map<std::tuple<std::string, std::string, long long>, std::size_t> at_;
};

// Each value the ledger at `where` gave out, once, in the order given, to `each`, for people asking
// what went where: a server's (each wait at most `timeout`, read as the server sends it), or a
// report's or ledger's file (read a part at a time, never opened for appending: a name typed
// wrong makes no file), with the numbers of its lines that could not be read in `passedOver`. On
// failure `error` says why: NotALedger for a name that is neither a file of a ledger's kind nor a
// usable address.
LedgerRead ReadGivenValues(const std::string& where, std::chrono::milliseconds timeout,
                           const std::function<void(const GivenValue&)>& each,
                           std::vector<std::size_t>& passedOver, std::string& error);

// Each record the ledger at `where` holds that gave something out, oldest first, to `each`, read as
// ReadGivenValues reads them (a file never opened for appending).
LedgerRead ReadLedgerEntries(const std::string& where, std::chrono::milliseconds timeout,
                             const std::function<void(LedgerEntry&&)>& each, std::vector<std::size_t>& passedOver,
                             std::string& error);

// How a wait for a lock that another program holds goes: `busy` is told once the wait has lasted a
// second, `stopped` is asked often whether the wait is to end at once (a stop), and it is given up
// after `limit`. A ledger on a server tells `unreachable` why, once it has not been reached for a
// second.
struct LockWait {
    std::function<bool()> stopped; // null: nothing ends it but the limit
    std::function<void()> busy;    // null: nothing to tell
    std::function<void(const std::string& why)> unreachable;
    std::chrono::milliseconds limit{10000};
    static constexpr std::chrono::milliseconds kSayAfter{1000};

    // One try, for a thread that must not wait at all (a window's own).
    static LockWait Once() {
        LockWait w;
        w.limit = std::chrono::milliseconds(0);
        return w;
    }
};

class Ledger {
public:
    virtual ~Ledger() = default;

    // Any thread. Under the ledger's lock, across threads and processes: `choose` asks what has
    // been given out and gives the record of its claim, or nullopt to claim nothing; the claim is
    // kept before the lock goes. False with `error` set when the ledger could not be locked, read
    // or written, or could not answer a question (nothing is claimed then).
    using Choose = std::function<std::optional<ReportRecord>(const GivenSoFar&)>;
    virtual bool claim(const Choose& choose, std::string& error, const LockWait& wait = {}) = 0;
    // Any thread. `ask` asks what has been given out so far; false with `error` set when the
    // ledger could not answer (what `ask` learnt then is not to be used).
    using Ask = std::function<void(const GivenSoFar&)>;
    virtual bool look(const Ask& ask, std::string& error, const LockWait& wait = {}) = 0;
    // Where it is, for people: a file's path, a server's address.
    virtual std::string name() const = 0;
    // Any thread. Whether it can be used now: a server reached and its tables in order. False with
    // `error` set, for people, when not.
    virtual bool ready(std::string& error, const LockWait& wait = {}) {
        (void)error;
        (void)wait;
        return true;
    }
    // Any thread. Every record it holds, oldest first, to `each`.
    using EachEntry = std::function<void(LedgerEntry&&)>;
    virtual bool entries(const EachEntry& each, std::string& error, const LockWait& wait = {}) = 0;

    // A ledger that keeps the devices' records too (a server's, for every station), beside the
    // day's report: what failed when `record` could not be stored, empty when it was. One not
    // stored is kept and stored before the next record or claim, or at flushRecords().
    virtual bool keepsRecords() const { return false; }
    virtual std::string record(const ReportRecord& record, const LockWait& wait = {}) {
        (void)record;
        (void)wait;
        return {};
    }
    virtual std::string flushRecords(const LockWait& wait = {}) {
        (void)wait;
        return {};
    }
    virtual std::size_t pendingRecords() const { return 0; }
    // The records kept, oldest first, for a front end that ends before they are stored and keeps
    // them itself; and records such a front end kept, kept again here to be stored first.
    virtual std::vector<ReportRecord> keptRecords() const { return {}; }
    virtual void keepRecords(const std::vector<ReportRecord>& records) { (void)records; }
};

} // namespace tk7v::station
