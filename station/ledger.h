#pragma once
// What has been given out: the rows of lists and the numbers of counters, each claimed by one
// device before its first chunk, across runs, days, reports and processes. The same field and
// range on the same ledger never give a value twice. A file is the first kind (the report's own
// format, so a command-line report that is its own ledger stays one file); others may hold it
// for many stations.
#include "events.h"

#include <chrono>
#include <functional>
#include <map>
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

// The rows and numbers a ledger holds as given out: the numbers by field.
struct Taken {
    std::set<int> rows;
    std::map<std::string, std::set<long long>> numbers;
};

// How a wait for a lock that another program holds goes: `busy` is told once the wait has lasted a
// second, `stopped` is asked often whether the wait is to end at once (a stop), and it is given up
// after `limit`.
struct LockWait {
    std::function<bool()> stopped; // null: nothing ends it but the limit
    std::function<void()> busy;    // null: nothing to tell
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

    // Any thread. Under the ledger's lock, across threads and processes: `choose` is shown what
    // has been given out and gives the record of its claim, or nullopt to claim nothing; the
    // claim is kept before the lock goes. False with `error` set when the ledger could not be
    // locked, read or written (nothing is claimed then).
    using Choose = std::function<std::optional<ReportRecord>(const Taken&)>;
    virtual bool claim(const Choose& choose, std::string& error, const LockWait& wait = {}) = 0;
    // Any thread. What has been given out so far.
    virtual bool taken(Taken& out, std::string& error, const LockWait& wait = {}) = 0;
    // Where it is, for people: a file's path.
    virtual std::string name() const = 0;
};

} // namespace tk7v::station
