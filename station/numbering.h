#pragma once
// What each device is given on top of the configuration: the next row of a list that no device
// has taken, the next number of a counter, or both. Both are claimed in the report, under its
// lock, before the device's write begins; a device that fails after that keeps what it took, so
// nothing is ever given twice, across restarts and stations sharing the report.
#include "events.h"
#include "ledger.h"
#include "values_table.h"

#include "model/parameter_image.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tk7v::station {

// --number FIELD=FIRST[-LAST]: LAST is the field's highest value when not given.
struct Counter {
    std::string field;
    long long first = 0, last = 0;
};

// The counter that `text` names, checked by the field rules against `image`, the configuration
// the numbers go into: an integer field, FIRST and LAST within its range, FIRST not past LAST.
// Null with `error` set (naming the field and what it takes) otherwise.
std::optional<Counter> ParseCounter(const std::string& text, const ParameterImage& image, std::string& error);

// A list row's values as a ledger knows the row: each field it sets with the text the field then
// holds (so "007" and "7" in a numeric column are one value), by field name, "; " between. The
// same in any copy of the list, whatever its name or the order of its columns.
std::string RowValues(const ValuesRow& row);

// The first two rows of `list` that give the same values, as "строки N и M": a list whose rows
// repeat would give one device's values to two. Empty when none do.
std::string RepeatedRows(const std::vector<ValuesRow>& list);

class Numbering {
public:
    // `list`: the rows of a table without a port column, in its order (none: no list).
    Numbering(std::vector<ValuesRow> list, std::optional<Counter> counter);

    bool active() const { return !list_.empty() || counter_; }

    // What the report holds decides the next row and number: a table row no record names, the
    // number after the highest one given within the counter's range. Nothing when either has
    // run out; `runOut` then names what has (the counter's field, or empty for the list).
    std::optional<Given> next(const GivenSoFar& given, std::string& runOut) const;

    struct Claim {
        enum class Outcome { Given, RunOut, Failed } outcome = Outcome::Failed;
        Given given;
        bool last = false; // nothing is left after this one
        std::string error; // Failed: the report's failure
        // RunOut, or Given with `last`: the counter's field that ran out, or empty for the list.
        std::string runOut;
    };
    // Claims the next row and number in the ledger with `record` (its result "claimed") and
    // applies them to `image`. Any thread.
    Claim claim(Ledger& ledger, ReportRecord record, ParameterImage& image, const LockWait& wait = {}) const;

    // The bytes (offset, count) of the fields this numbering gives: what tells one numbered
    // device from another.
    std::vector<std::pair<std::size_t, std::size_t>> identityRanges() const;
    // What `device` holds of what the ledger gave out: the counter's number within its range and
    // the list's row whose values it holds, each given as `taken` says. Nothing unless it holds
    // all that this numbering gives. Such a device was numbered already (left on its port through
    // a stop, unplugged and plugged back, a write cut short) and keeps what it holds.
    std::optional<Given> held(const ParameterImage& device, const GivenSoFar& given) const;
    // Puts the row's values and the numbers into `image`.
    void apply(const Given& given, ParameterImage& image) const;

private:
    std::vector<std::string> assignments(const Given& given) const;

    std::vector<ValuesRow> list_;
    std::vector<ListRow> rows_; // the list's rows as the ledger knows them, in its order
    // Rows before this place were found given out, and a row given stays given: the next claim
    // asks from here. Shared by the copies of this numbering and their threads.
    std::shared_ptr<std::atomic<std::size_t>> freeFrom_ = std::make_shared<std::atomic<std::size_t>>(0);
    std::optional<Counter> counter_;
};

} // namespace tk7v::station
