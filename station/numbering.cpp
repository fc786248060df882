#include "numbering.h"

#include "sha256.h"

#include "model/field_rules.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <set>

namespace tk7v::station {

namespace {

bool parseNumber(std::string_view text, long long& n) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

} // namespace

std::optional<Counter> ParseCounter(const std::string& text, const ParameterImage& image,
                                    std::string& error) {
    const std::size_t eq = text.find('=');
    const std::string field = text.substr(0, eq);
    const FieldSpec* numeric = eq == std::string::npos ? nullptr : FindField(field);
    if (!numeric || !numeric->range) {
        error =
            "--number " + text + ": нужно ПОЛЕ=ПЕРВЫЙ[-ПОСЛЕДНИЙ], поле — числовое (список: tk7v-cli fields)";
        return std::nullopt;
    }
    const std::string range = text.substr(eq + 1);
    const std::size_t dash = range.find('-', 1);
    Counter c{field, 0, numeric->range->high};
    if (!parseNumber(std::string_view(range).substr(0, dash), c.first) ||
        (dash != std::string::npos && !parseNumber(std::string_view(range).substr(dash + 1), c.last))) {
        error = "--number " + text + ": нужно ПОЛЕ=ПЕРВЫЙ[-ПОСЛЕДНИЙ], ПЕРВЫЙ и ПОСЛЕДНИЙ — целые числа";
        return std::nullopt;
    }
    const auto within = "--number " + text + ": " + field + " принимает числа от " +
                        std::to_string(numeric->range->low) + " до " + std::to_string(numeric->range->high);
    const auto outside = [&](long long n) { return n < numeric->range->low || n > numeric->range->high; };
    if (outside(c.first) || outside(c.last)) {
        error = within;
        return std::nullopt;
    }
    if (c.first > c.last) {
        error = "--number " + text + ": первый номер больше последнего";
        return std::nullopt;
    }
    // Both ends as `set` would take them, so that every number between is taken too.
    for (const long long n : {c.first, c.last}) {
        ParameterImage copy = image;
        for (const FieldIssue& issue : SetFields(copy, {{field + "=" + std::to_string(n)}}, true)) {
            error = "--number " + text + ": " + IssueText(issue);
            return std::nullopt;
        }
    }
    return c;
}

std::string RowValues(const ValuesRow& row) {
    ParameterImage image = StartupImage();
    SetFields(image, row.assignments, false);
    std::set<std::string, std::less<>> names;
    for (const std::string& a : row.assignments)
        names.insert(a.substr(0, a.find('=')));
    std::string values;
    for (const FieldView& v : ViewFields(image))
        if (names.contains(v.field->control))
            values += (values.empty() ? "" : "; ") + std::string(v.field->control) + "=" + v.text;
    // A key a server indexes stays short: a row of long texts is known by their digest.
    constexpr std::size_t kLongest = 512;
    if (values.size() > kLongest)
        values = "sha256:" + Sha256Hex(std::span(reinterpret_cast<const std::uint8_t*>(values.data()), values.size()));
    return values;
}

std::string RepeatedRows(const std::vector<ValuesRow>& list) {
    std::map<std::string, int> first;
    for (const ValuesRow& r : list)
        if (const auto [at, fresh] = first.try_emplace(RowValues(r), r.row); !fresh)
            return "строки " + std::to_string(at->second) + " и " + std::to_string(r.row);
    return {};
}

Numbering::Numbering(std::vector<ValuesRow> list, std::optional<Counter> counter)
    : list_(std::move(list)), counter_(std::move(counter)) {
    rows_.reserve(list_.size());
    for (const ValuesRow& r : list_)
        rows_.push_back({r.row, RowValues(r)});
}

std::optional<Given> Numbering::next(const GivenSoFar& given, std::string& runOut) const {
    Given next;
    if (!rows_.empty()) {
        const std::size_t free = given.firstFree(rows_, std::min(freeFrom_->load(), rows_.size()));
        if (free >= rows_.size()) {
            runOut.clear();
            return std::nullopt;
        }
        next.row = rows_[free].row;
        next.rowValues = rows_[free].values;
    }
    if (counter_) {
        // After the highest number given within the range: numbers below it that no record names
        // were never given, or were held by a failed device, and stay untouched.
        const std::optional<long long> highest = given.highest(counter_->field, counter_->first, counter_->last);
        if (highest && *highest >= counter_->last) {
            runOut = counter_->field;
            return std::nullopt;
        }
        next.numbers.push_back(counter_->field + "=" + std::to_string(highest ? *highest + 1 : counter_->first));
    }
    return next;
}

std::vector<std::string> Numbering::assignments(const Given& given) const {
    std::vector<std::string> out;
    if (given.row > 0)
        for (const ValuesRow& r : list_)
            if (r.row == given.row) out = r.assignments;
    out.insert(out.end(), given.numbers.begin(), given.numbers.end());
    return out;
}

Numbering::Claim Numbering::claim(Ledger& ledger, ReportRecord record, ParameterImage& image,
                                  const LockWait& wait) const {
    Claim c;
    const bool claimed = ledger.claim(
        [&](const GivenSoFar& soFar) -> std::optional<ReportRecord> {
            const std::optional<Given> given = next(soFar, c.runOut);
            if (!given) {
                c.outcome = Claim::Outcome::RunOut;
                return std::nullopt;
            }
            c.outcome = Claim::Outcome::Given;
            c.given = *given;
            // The rows before the one found free were all given, whatever becomes of this claim.
            if (!rows_.empty()) {
                const auto at = std::find_if(rows_.begin(), rows_.end(),
                                             [&](const ListRow& r) { return r.row == given->row; });
                std::size_t was = freeFrom_->load();
                const auto now = std::size_t(at - rows_.begin());
                while (was < now && !freeFrom_->compare_exchange_weak(was, now)) {
                }
            }
            // Whether anything is left once this one is taken, named as when the next device finds
            // nothing: the list first (an empty name), then the counter's field.
            if (!rows_.empty()) {
                const auto at = std::find_if(rows_.begin(), rows_.end(),
                                             [&](const ListRow& r) { return r.row == given->row; });
                c.last = soFar.firstFree(rows_, std::size_t(at - rows_.begin()) + 1) >= rows_.size();
                c.runOut.clear();
            }
            if (!c.last && counter_ && given->numbers.back() == counter_->field + "=" + std::to_string(counter_->last)) {
                c.last = true;
                c.runOut = counter_->field;
            }
            record.given = *given;
            record.result = "claimed";
            return record;
        },
        c.error, wait);
    if (!claimed) {
        c.outcome = Claim::Outcome::Failed;
        return c;
    }
    // Checked before anything was sent: every row and both ends of the counter.
    if (c.outcome == Claim::Outcome::Given) apply(c.given, image);
    return c;
}

std::vector<std::pair<std::size_t, std::size_t>> Numbering::identityRanges() const {
    std::vector<std::pair<std::size_t, std::size_t>> ranges;
    const auto add = [&](std::string_view field) {
        if (const FieldSpec* f = FindField(field)) ranges.emplace_back(f->offset, FieldWidth(f->kind));
    };
    if (counter_) add(counter_->field);
    // Every row sets the same fields; the first row's name them.
    if (!list_.empty())
        for (const std::string& a : list_.front().assignments)
            add(std::string_view(a).substr(0, a.find('=')));
    return ranges;
}

std::optional<Given> Numbering::held(const ParameterImage& device, const GivenSoFar& soFar) const {
    Given given;
    if (counter_) {
        // The number the device holds must be one given out within the range; one never given is
        // some other configuration's.
        long long number = -1;
        for (const FieldView& v : ViewFields(device))
            if (v.field->control == counter_->field) parseNumber(v.text, number);
        if (number < counter_->first || number > counter_->last || !soFar.numberGiven(counter_->field, number))
            return std::nullopt;
        given.numbers.push_back(counter_->field + "=" + std::to_string(number));
    }
    if (!list_.empty()) {
        // The row whose values the device holds, then whether the ledger gave it out.
        const auto row = std::find_if(list_.begin(), list_.end(), [&](const ValuesRow& r) {
            ParameterImage with = device;
            SetFields(with, r.assignments, false);
            return DiffFields(device, with).empty();
        });
        if (row == list_.end()) return std::nullopt;
        const ListRow& known = rows_[std::size_t(row - list_.begin())];
        if (soFar.firstFree({known}) == 0) return std::nullopt;
        given.row = known.row;
        given.rowValues = known.values;
    }
    return given;
}

void Numbering::apply(const Given& given, ParameterImage& image) const {
    SetFields(image, assignments(given), false);
}

} // namespace tk7v::station
