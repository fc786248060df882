#include "numbering.h"

#include "model/field_rules.h"

#include <algorithm>
#include <charconv>

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

std::optional<Given> Numbering::next(const Taken& taken, std::string& runOut) const {
    Given given;
    if (!list_.empty()) {
        const auto free = std::find_if(list_.begin(), list_.end(),
                                       [&](const ValuesRow& r) { return !taken.rows.contains(r.row); });
        if (free == list_.end()) {
            runOut.clear();
            return std::nullopt;
        }
        given.row = free->row;
    }
    if (counter_) {
        long long n = counter_->first;
        if (const auto given = taken.numbers.find(counter_->field); given != taken.numbers.end()) {
            // The highest number given within the range: numbers below it that no record names
            // were never given, or were held by a failed device, and stay untouched.
            const auto above = given->second.upper_bound(counter_->last);
            if (above != given->second.begin()) {
                const long long highest = *std::prev(above);
                if (highest >= counter_->first) n = highest + 1;
            }
        }
        if (n > counter_->last) {
            runOut = counter_->field;
            return std::nullopt;
        }
        given.numbers.push_back(counter_->field + "=" + std::to_string(n));
    }
    return given;
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
        [&](const Taken& taken) -> std::optional<ReportRecord> {
            const std::optional<Given> given = next(taken, c.runOut);
            if (!given) {
                c.outcome = Claim::Outcome::RunOut;
                return std::nullopt;
            }
            c.outcome = Claim::Outcome::Given;
            c.given = *given;
            // Whether anything is left once this one is taken.
            Taken after = taken;
            if (given->row > 0) after.rows.insert(given->row);
            for (const std::string& n : given->numbers) {
                long long v = 0;
                parseNumber(std::string_view(n).substr(n.find('=') + 1), v);
                after.numbers[n.substr(0, n.find('='))].insert(v);
            }
            // What runs out with it is named as when the next device finds nothing: the counter's
            // field, or nothing for the list.
            c.last = !next(after, c.runOut);
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

std::optional<Given> Numbering::held(const ParameterImage& device, const Taken& taken) const {
    Given given;
    if (counter_) {
        // The number the device holds must be one given out within the range; one never given is
        // some other configuration's.
        long long number = -1;
        for (const FieldView& v : ViewFields(device))
            if (v.field->control == counter_->field) parseNumber(v.text, number);
        const auto numbers = taken.numbers.find(counter_->field);
        if (number < counter_->first || number > counter_->last || numbers == taken.numbers.end() ||
            !numbers->second.contains(number))
            return std::nullopt;
        given.numbers.push_back(counter_->field + "=" + std::to_string(number));
    }
    if (!list_.empty()) {
        const auto row = std::find_if(list_.begin(), list_.end(), [&](const ValuesRow& r) {
            if (!taken.rows.contains(r.row)) return false;
            ParameterImage with = device;
            SetFields(with, r.assignments, false);
            return DiffFields(device, with).empty();
        });
        if (row == list_.end()) return std::nullopt;
        given.row = row->row;
    }
    return given;
}

void Numbering::apply(const Given& given, ParameterImage& image) const {
    SetFields(image, assignments(given), false);
}

} // namespace tk7v::station
