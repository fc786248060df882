#include "report.h"

#include "values_table.h"

#include "model/config_file.h"

#include <csv.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <thread>

namespace tk7v::station {

namespace {

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// A spreadsheet takes a cell that begins with one of these for a formula: a file named
// "=1+2.cfg", or a device's line, would be computed, or worse (=HYPERLINK, =cmd|…). Such a cell is
// written after an apostrophe, which the spreadsheet shows as text; a cell that begins with the
// apostrophe itself gets one more, so that reading takes exactly one off and every text comes
// back as it was.
constexpr std::string_view kFormulaStart = "=+-@\t\r'";

// Every field quoted, quotes doubled: libcsv's writer, the reader's own library.
std::string csvField(const std::string& text) {
    const std::string s =
        !text.empty() && kFormulaStart.find(text.front()) != std::string_view::npos ? "'" + text : text;
    std::string out(csv_write(nullptr, 0, s.data(), s.size()), '\0');
    csv_write(out.data(), out.size(), s.data(), s.size());
    return out;
}

// A cell as it was before csvField. Earlier versions wrote cells as they were: one of theirs that
// began with an apostrophe followed by some other character still reads as it stands.
void unguarded(std::string& cell) {
    if (cell.size() >= 2 && cell.front() == '\'' && kFormulaStart.find(cell[1]) != std::string_view::npos)
        cell.erase(0, 1);
}

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
long long daysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

long long secondsOf(const std::tm& t) {
    return daysFromCivil(t.tm_year + 1900LL, static_cast<unsigned>(t.tm_mon + 1),
                         static_cast<unsigned>(t.tm_mday)) *
               86400 +
           t.tm_hour * 3600LL + t.tm_min * 60LL + t.tm_sec;
}

// The CSV report is for people: a spreadsheet with Russian settings opens it by a double click
// (UTF-8 marked by its byte-order mark, ";" between cells, headings in words). A report an
// earlier version began (",", the field names as headings) goes on in its own form, so that it
// stays one table.
constexpr const char* kBom = "\xEF\xBB\xBF";
constexpr const char* kCsvHeading[] = {
    "Порт",           "Устройство",     "Команда", "Файл",      "SHA-256",
    "Начало",         "Конец",          "Итог",    "Сообщение", "Различающиеся поля",
    "Строка таблицы", "Выданные номера", "Значения строки"};

// The separator of a report that starts with `head` (its first line at least), decided by its
// headings: a spreadsheet that saved it again may have chosen "," beside its byte-order mark.
char separatorOf(const std::string& head) {
    return CsvSeparator(SpreadsheetTextAsUtf8(head.substr(0, head.find('\n'))));
}

std::vector<std::string> CsvCells(const std::string& text, char separator) {
    struct Cells {
        std::vector<std::vector<std::string>> rows;
        std::vector<std::string> current;
    } cells;
    csv_parser parser;
    if (csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI | CSV_APPEND_NULL) != 0) return {};
    csv_set_delim(&parser, static_cast<unsigned char>(separator));
    // No cell is longer than its line, so a buffer of the line's length is grown once; grown by
    // the library's 128 bytes at a time, a line of megabytes took thousands of copies of itself.
    csv_set_blk_size(&parser, text.size() + 1);
    const auto onCell = [](void* s, std::size_t len, void* data) {
        static_cast<Cells*>(data)->current.emplace_back(s ? static_cast<const char*>(s) : "", s ? len : 0);
    };
    const auto onRow = [](int, void* data) {
        auto* c = static_cast<Cells*>(data);
        c->rows.push_back(std::move(c->current));
        c->current.clear();
    };
    const bool whole = csv_parse(&parser, text.data(), text.size(), onCell, onRow, &cells) == text.size() &&
                       csv_fini(&parser, onCell, onRow, &cells) == 0;
    csv_free(&parser);
    if (!whole || cells.rows.size() != 1) return {};
    for (std::string& cell : cells.rows.front())
        unguarded(cell);
    return cells.rows.front();
}

// The cells of a CSV line as this program writes them and most others do: each one quoted, or
// plain without spaces or quotes; in `cells`, as they stand between the quotes (a quote inside
// still doubled). False for any other line, which the CSV library reads: a claim reads every line
// of a ledger, and this reads them several times faster, alike wherever it answers.
bool QuickCells(std::string_view line, char separator, std::vector<std::string_view>& cells) {
    cells.clear();
    std::size_t at = 0;
    for (;;) {
        if (at < line.size() && line[at] == '"') {
            std::size_t end = at + 1;
            for (;; end += 2) {
                end = line.find('"', end);
                if (end == std::string_view::npos) return false;
                if (end + 1 >= line.size() || line[end + 1] != '"') break;
            }
            cells.push_back(line.substr(at + 1, end - at - 1));
            at = end + 1;
        } else {
            std::size_t end = std::min(line.find(separator, at), line.size());
            const std::string_view cell = line.substr(at, end - at);
            if (cell.find('"') != std::string_view::npos ||
                (!cell.empty() && (cell.front() == ' ' || cell.front() == '\t' || cell.back() == ' ' ||
                                   cell.back() == '\t')))
                return false;
            cells.push_back(cell);
            at = end;
        }
        if (at == line.size()) return true;
        if (line[at] != separator) return false;
        ++at;
    }
}

// A cell as QuickCells found it, its quotes undoubled and as csvField wrote it.
std::string QuickCell(std::string_view raw) {
    std::string cell;
    cell.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        cell += raw[i];
        if (raw[i] == '"') ++i;
    }
    unguarded(cell);
    return cell;
}

// The values of "row", "numbers" and "row_values" in a line of JSON Lines, found by a scan that
// knows strings, escapes and nesting, without reading the rest: the JSON library then reads only
// these. False for a line the scan cannot be sure of (not one object, a key with an escape, a key
// twice), which the library reads whole.
bool QuickKeys(std::string_view line, std::string_view& row, std::string_view& numbers,
               std::string_view& rowValues) {
    std::size_t at = 0;
    const auto space = [&] {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t' || line[at] == '\r' || line[at] == '\n'))
            ++at;
    };
    // Past a string that begins at `at`.
    const auto string = [&] {
        for (std::size_t from = at + 1;;) {
            const std::size_t quote = line.find('"', from);
            if (quote == std::string_view::npos) return false;
            // A quote after an odd number of backslashes is escaped.
            std::size_t slashes = 0;
            while (quote - slashes > at + 1 && line[quote - slashes - 1] == '\\')
                ++slashes;
            from = quote + 1;
            if (slashes % 2 == 0) {
                at = quote + 1;
                return true;
            }
        }
    };
    space();
    if (at >= line.size() || line[at++] != '{') return false;
    bool seenRow = false, seenNumbers = false, seenValues = false;
    for (;;) {
        space();
        if (at >= line.size() || line[at] != '"') return false;
        const std::size_t keyAt = at;
        if (!string()) return false;
        const std::string_view key = line.substr(keyAt + 1, at - keyAt - 2);
        if (key.find('\\') != std::string_view::npos) return false;
        space();
        if (at >= line.size() || line[at++] != ':') return false;
        space();
        const std::size_t valueAt = at;
        int depth = 0;
        while (at < line.size()) {
            const char c = line[at];
            if (c == '"') {
                if (!string()) return false;
                if (depth == 0) break;
                continue;
            }
            if (depth == 0 && (c == ',' || c == '}')) break;
            if (c == '{' || c == '[') ++depth;
            if ((c == '}' || c == ']') && --depth == 0) {
                ++at;
                break;
            }
            if (depth < 0) return false;
            ++at;
        }
        const std::string_view value = line.substr(valueAt, at - valueAt);
        const auto take = [&](bool& seen, std::string_view& to) {
            if (seen) return false;
            seen = true;
            to = value;
            return true;
        };
        if (key == "row" && !take(seenRow, row)) return false;
        if (key == "numbers" && !take(seenNumbers, numbers)) return false;
        if (key == "row_values" && !take(seenValues, rowValues)) return false;
        space();
        if (at >= line.size()) return false;
        if (line[at] == '}') {
            ++at;
            space();
            return at == line.size();
        }
        if (line[at++] != ',') return false;
    }
}

// A record's row and numbers as this program writes them ("row":3, "numbers":{"F":5}), read
// without the JSON library, with no row values (a row given by its values goes to the library);
// false for anything else, leaving `given` to be read by the library.
bool QuickGiven(std::string_view row, std::string_view numbers, Given& given) {
    // A JSON integer as the library reads it: no leading zero, no fraction, within a long long.
    const auto integer = [](std::string_view text, long long& n) {
        const std::size_t digits = text.starts_with('-') ? 1 : 0;
        if (text.size() <= digits || (text[digits] == '0' && text.size() > digits + 1)) return false;
        const auto [end, failed] = std::from_chars(text.data(), text.data() + text.size(), n);
        return failed == std::errc() && end == text.data() + text.size();
    };
    if (!row.empty()) return false;
    if (numbers.empty()) return true;
    if (numbers.size() < 2 || numbers.front() != '{' || numbers.back() != '}') return false;
    numbers = numbers.substr(1, numbers.size() - 2);
    std::string field;
    long long n = 0;
    while (!numbers.empty()) {
        if (numbers.front() != '"') return false;
        const std::size_t quote = numbers.find('"', 1);
        if (quote == std::string_view::npos || numbers.size() < quote + 2 || numbers[quote + 1] != ':') return false;
        const std::string_view name = numbers.substr(1, quote - 1);
        numbers.remove_prefix(quote + 2);
        const std::size_t comma = numbers.find(',');
        if (name.find('\\') != std::string_view::npos || !integer(numbers.substr(0, comma), n)) return false;
        std::string text = std::string(name) + "=" + std::to_string(n);
        if (!SplitGiven(text, field, n)) return false;
        given.numbers.push_back(std::move(text));
        if (comma == std::string_view::npos) return true;
        numbers.remove_prefix(comma + 1);
        if (numbers.empty()) return false; // a comma with nothing after it
    }
    return true;
}

// The first line of a report is its headings: this much of it says the separator.
constexpr std::size_t kHeadBytes = 4096;

// How often a wait for a lock held elsewhere looks at its stop and its limit.
constexpr std::chrono::milliseconds kLockSlice{20};

std::mutex& timeMutex() {
    static std::mutex m; // localtime and gmtime share a static buffer
    return m;
}

} // namespace

std::unique_ptr<Report> Report::open(const std::string& path, std::string& error, bool* heldElsewhere) {
    if (heldElsewhere) *heldElsewhere = false;
    Format format;
    if (endsWith(path, ".jsonl"))
        format = Format::JsonLines;
    else if (endsWith(path, ".csv"))
        format = Format::Csv;
    else {
        error = path + ": имя отчёта должно оканчиваться на .jsonl или .csv";
        return nullptr;
    }
    SysError failed;
    auto file = SharedFile::open(Utf8Path(path), failed);
    if (!file) {
        error = path + ": отчёт не открывается для записи: " + FileErrorText(failed.code);
        if (heldElsewhere) *heldElsewhere = failed.kind == ErrorKind::Busy;
        return nullptr;
    }
    // Claims rest on the lock: a folder that offers none is found out before any exchange. One
    // held by another station proves that it offers them, and is not waited for.
    bool held = false;
    if (const SysError e = file->tryLock(held)) {
        error = path + ": отчёт не блокируется: " + FileErrorText(e.code);
        if (heldElsewhere) *heldElsewhere = e.kind == ErrorKind::Busy;
        return nullptr;
    }
    if (!held) file->unlock();
    // The CSV header is written with the first record, under the lock: two runs starting on a
    // new report at once write it once.
    return std::unique_ptr<Report>(new Report(format, path, std::move(file)));
}

std::string Report::isoTime(std::chrono::system_clock::time_point t) {
    const std::time_t tt = std::chrono::system_clock::to_time_t(t);
    std::tm local{}, utc{};
    {
        std::lock_guard lock(timeMutex());
        local = *std::localtime(&tt);
        utc = *std::gmtime(&tt);
    }
    const int offset = static_cast<int>((secondsOf(local) - secondsOf(utc)) / 60);
    const int minutes = offset < 0 ? -offset : offset;
    char when[32], zone[16];
    std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S", &local);
    std::snprintf(zone, sizeof zone, "%c%02d:%02d", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return std::string(when) + zone;
}

std::string Report::line(const ReportRecord& r, char separator) const {
    std::string line;
    if (format_ == Format::JsonLines) {
        nlohmann::json j = {{"port", r.port},        {"identification", r.identification},
                            {"command", r.command},  {"file", r.file},
                            {"sha256", r.sha256},    {"start", isoTime(r.start)},
                            {"end", isoTime(r.end)}, {"result", r.result},
                            {"message", r.message},  {"differing", r.differing}};
        if (r.given.row > 0) j["row"] = r.given.row;
        if (r.given.row > 0 && !r.given.rowValues.empty()) j["row_values"] = r.given.rowValues;
        std::string field;
        long long value = 0;
        for (const std::string& n : r.given.numbers)
            if (SplitGiven(n, field, value)) j["numbers"][field] = value;
        // Device text decoded from Windows-1251 is valid UTF-8; replace anything else rather than
        // lose the record.
        return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    }
    for (const std::string& f :
         {r.port, r.identification, r.command, r.file, r.sha256, isoTime(r.start), isoTime(r.end), r.result,
          r.message, SpaceJoined(r.differing), r.given.row > 0 ? std::to_string(r.given.row) : std::string(),
          SpaceJoined(r.given.numbers), r.given.row > 0 ? r.given.rowValues : std::string()}) {
        if (!line.empty()) line += separator;
        line += csvField(f);
    }
    return line + "\r\n";
}

SysError Report::appendLocked(const ReportRecord& record) {
    std::uint64_t size = 0;
    if (const SysError e = file_->size(size)) return e;
    std::string bytes;
    if (format_ == Format::Csv && size == 0) {
        separator_ = ';';
        bytes = kBom;
        for (const char* heading : kCsvHeading) {
            if (bytes.size() > std::strlen(kBom)) bytes += ';';
            bytes += heading;
        }
        bytes += "\r\n";
    } else if (format_ == Format::Csv && !separator_) {
        // The first line of a report never changes once written: read once, it holds.
        std::string head;
        if (const SysError e = file_->read(0, head, kHeadBytes)) return e;
        separator_ = separatorOf(head);
    }
    const std::string line = this->line(record, separator_ ? *separator_ : ';');
    // A record cut short by some other program, or one whose undoing failed, is left as it is,
    // and ours starts on a line of its own.
    std::string last;
    if (size > 0)
        if (const SysError e = file_->read(size - 1, last)) return e;
    if (!last.empty() && last.back() != '\n') bytes += format_ == Format::Csv ? "\r\n" : "\n";
    return file_->append(bytes + line);
}

SysError Report::appendAllLocked(const ReportRecord* record) {
    while (!kept_.empty()) {
        if (const SysError e = appendLocked(kept_.front())) {
            if (record) kept_.push_back(*record);
            return e;
        }
        kept_.erase(kept_.begin());
    }
    if (!record) return {};
    const SysError e = appendLocked(*record);
    if (e) kept_.push_back(*record);
    return e;
}

std::string Report::failure(SysError e) const {
    return e ? path_ + ": " + FileErrorText(e.code) : std::string();
}

// The system hands a file's lock to those that wait for it blocked, in turn; tries at intervals
// could miss every moment another station leaves it free, and wait for ever. So a held lock is
// waited for by a thread of its own, blocked in the system's call, while the waiter keeps its
// limit and its stop. A waiter that gives up leaves the take to the next one, or to release what
// it gets: one take at most per report, since two on one file would share the one lock.
struct Report::Taking {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false; // the system's call has returned
    bool wanted = true;    // someone waits for it; otherwise the lock it gets is let go
    SysError result;
};

std::string Report::lockFile(const LockWait& wait) {
    // Another station appends for milliseconds; a lock held longer is some other program's (a
    // stuck network folder, a tool that keeps the file locked): the wait is said, bounded, and
    // ended at once by a stop.
    bool held = false;
    if (const SysError e = file_->tryLock(held))
        return path_ + ": отчёт не блокируется: " + FileErrorText(e.code);
    if (!held) return {};
    const std::string busy = path_ + ": отчёт занят другой программой";
    if (wait.limit <= std::chrono::milliseconds(0)) return busy;

    std::shared_ptr<Taking> t = taking_;
    if (t) {
        std::lock_guard lock(t->mutex);
        if (t->finished)
            t.reset(); // one given up has let its lock go
        else
            t->wanted = true;
    }
    if (!t) {
        t = std::make_shared<Taking>();
        taking_ = t;
        std::thread([t, file = file_] {
            const SysError e = file->lock();
            std::lock_guard lock(t->mutex);
            t->finished = true;
            t->result = e;
            if (!t->wanted && !e) file->unlock();
            t->done.notify_all();
        }).detach();
    }
    const auto start = std::chrono::steady_clock::now();
    bool said = false;
    // Gives the take up: the lock it got meanwhile is let go, or it will be when it comes.
    const auto giveUp = [&](const std::string& why) {
        std::lock_guard lock(t->mutex);
        if (t->finished) {
            if (!t->result) file_->unlock();
            taking_.reset();
        } else {
            t->wanted = false;
        }
        return why;
    };
    for (;;) {
        {
            std::unique_lock lock(t->mutex);
            if (t->done.wait_for(lock, kLockSlice, [&] { return t->finished; })) {
                taking_.reset();
                return t->result ? path_ + ": отчёт не блокируется: " + FileErrorText(t->result.code)
                                 : std::string();
            }
        }
        const auto waited = std::chrono::steady_clock::now() - start;
        if (waited >= wait.limit) return giveUp(busy);
        if (!said && waited >= LockWait::kSayAfter && wait.busy) {
            said = true;
            wait.busy();
        }
        if (wait.stopped && wait.stopped()) return giveUp(path_ + ": ожидание отчёта прервано");
    }
}

std::string Report::add(const ReportRecord& r, const LockWait& wait) {
    std::lock_guard lock(mutex_);
    if (std::string busy = lockFile(wait); !busy.empty()) {
        kept_.push_back(r);
        return busy;
    }
    const SysError failed = appendAllLocked(&r);
    file_->unlock();
    return failure(failed);
}

std::string Report::flush(const LockWait& wait) {
    std::lock_guard lock(mutex_);
    if (kept_.empty()) return {};
    if (std::string busy = lockFile(wait); !busy.empty()) return busy;
    const SysError failed = appendAllLocked(nullptr);
    file_->unlock();
    return failure(failed);
}

std::size_t Report::pending() const {
    std::lock_guard lock(mutex_);
    return kept_.size();
}

bool Report::claim(const Choose& choose, std::string& error, const LockWait& wait) {
    std::lock_guard lock(mutex_);
    if (std::string busy = lockFile(wait); !busy.empty()) {
        error = std::move(busy);
        return false;
    }
    // The records kept go first: a claim after them keeps the report in the order things happened,
    // and no device is begun while the report cannot take its record.
    SysError failed = appendAllLocked(nullptr);
    if (!failed) failed = indexLocked();
    if (!failed) {
        if (const std::optional<ReportRecord> record = choose(index_)) failed = appendLocked(*record);
    }
    file_->unlock();
    if (failed) error = path_ + ": отчёт не записан: " + FileErrorText(failed.code);
    return !failed;
}

bool Report::look(const Ask& ask, std::string& error, const LockWait& wait) {
    std::lock_guard lock(mutex_);
    if (std::string busy = lockFile(wait); !busy.empty()) {
        error = std::move(busy);
        return false;
    }
    const SysError failed = indexLocked();
    file_->unlock();
    if (failed) {
        error = path_ + ": " + FileErrorText(failed.code);
        return false;
    }
    ask(index_);
    return true;
}

std::vector<std::size_t> Report::passedOver() const {
    std::lock_guard lock(mutex_);
    return passedOver_;
}

namespace {

// The bytes a report keeps of what it read to know the file again: its beginning and the end of
// what was read. A file whose bytes there changed was rewritten (saved again by a spreadsheet, a
// copy put back) and is read again whole.
constexpr std::size_t kEdgeBytes = 256;
// The most of a file read at once: memory stays the same however long the file grows.
constexpr std::size_t kChunkBytes = 1 << 20;

} // namespace

SysError Report::indexLocked() {
    std::uint64_t size = 0;
    if (const SysError e = file_->size(size)) return e;
    bool again = size < indexedTo_;
    if (!again && indexedTo_ > 0) {
        std::string head, edge;
        if (const SysError e = file_->read(0, head, indexHead_.size())) return e;
        if (const SysError e = file_->read(indexedTo_ - indexEdge_.size(), edge, indexEdge_.size())) return e;
        again = head != indexHead_ || edge != indexEdge_;
    }
    if (again) {
        index_ = {};
        indexedTo_ = 0;
        indexedLines_ = 0;
        passedOver_.clear();
    }
    const bool csv = format_ == Format::Csv;
    std::string carry, chunk;
    std::uint64_t at = indexedTo_;
    char separator = separator_.value_or(';');
    std::size_t lines = indexedLines_;
    LedgerEntry e; // one for every line: its numbers' room is allocated once
    const auto take = [&](std::string_view line, bool whole) {
        ++lines;
        if (csv && lines == 1) separator = separatorOf(std::string(line));
        e.given.row = 0;
        e.given.rowValues.clear();
        e.given.numbers.clear();
        switch (ReadRecord(line, csv, separator, e, true)) {
        case LineIs::Record:
            index_.add(e.given);
            break;
        case LineIs::Spoilt:
            // A last line still being written by another program is read again next time.
            if (whole && (passedOver_.empty() || passedOver_.back() < lines)) passedOver_.push_back(lines);
            break;
        case LineIs::Nothing:
            break;
        }
    };
    while (at < size) {
        if (const SysError e = file_->read(at, chunk, kChunkBytes)) return e;
        if (chunk.empty()) break;
        at += chunk.size();
        std::size_t from = 0;
        if (!carry.empty()) {
            // The line the last chunk ended in.
            const std::size_t end = chunk.find('\n');
            carry.append(chunk, 0, end);
            if (end == std::string::npos) continue;
            take(carry, true);
            from = end + 1;
        }
        for (std::size_t end; (end = chunk.find('\n', from)) != std::string::npos; from = end + 1)
            take(std::string_view(chunk).substr(from, end - from), true);
        carry.assign(chunk, from);
        indexedTo_ = at - carry.size();
        indexedLines_ = lines;
    }
    if (csv && indexedLines_ > 0 && !separator_) separator_ = separator;
    // A last line without its end (another program's, cut short) gives what it holds now, and is
    // read again with what follows it.
    if (!carry.empty()) take(carry, false);
    if (const SysError e = file_->read(0, indexHead_, std::min<std::uint64_t>(kEdgeBytes, indexedTo_))) return e;
    const std::uint64_t edge = std::min<std::uint64_t>(kEdgeBytes, indexedTo_);
    return file_->read(indexedTo_ - edge, indexEdge_, edge);
}

Taken Report::TakenIn(const std::string& text, bool csv, std::vector<std::size_t>* passedOver) {
    Taken taken;
    for (const LedgerEntry& e : EntriesIn(text, csv, passedOver))
        taken.add(e.given);
    return taken;
}

std::vector<LedgerEntry> Report::EntriesIn(const std::string& text, bool csv,
                                           std::vector<std::size_t>* passedOver) {
    std::vector<LedgerEntry> entries;
    ForEachRecord(text, csv, [&](LedgerEntry&& e) { entries.push_back(std::move(e)); }, passedOver);
    return entries;
}

void Report::ForEachRecord(std::string_view text, bool csv, const std::function<void(LedgerEntry&&)>& each,
                           std::vector<std::size_t>* passedOver, std::size_t firstLine, char separator) {
    std::size_t line = firstLine;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        ++line;
        const std::string_view bytes = text.substr(at, end - at);
        at = end + 1;
        if (csv && line == 1) separator = separatorOf(std::string(bytes));
        LedgerEntry e;
        const LineIs is = ReadRecord(bytes, csv, separator, e);
        if (is == LineIs::Record) each(std::move(e));
        if (is == LineIs::Spoilt && passedOver) passedOver->push_back(line);
    }
}

Report::LineIs Report::ReadRecord(std::string_view bytes, bool csv, char separator, LedgerEntry& e,
                                  bool givenOnly) {
    // A list's rows fit an int: a record naming a row beyond is spoilt, and read as the row its
    // number wraps to it would keep that row from ever being given. One of 0 or less names none.
    const auto row = [](long long n, int& to) {
        if (n > std::numeric_limits<int>::max()) return false;
        to = n > 0 ? int(n) : 0;
        return true;
    };
    // A number as SplitGiven takes it, else the record is spoilt.
    const auto number = [&e](const std::string& given) {
        std::string field;
        long long value = 0;
        if (!SplitGiven(given, field, value)) return false;
        e.given.numbers.push_back(given);
        return true;
    };
    if (bytes.ends_with('\r')) bytes.remove_suffix(1);
    if (bytes.find_first_not_of(" \t") == std::string_view::npos) return LineIs::Nothing;
    if (!csv) {
        const auto word = [](const nlohmann::json& j, const char* key) {
            const auto v = j.find(key);
            return v != j.end() && v->is_string() ? v->get<std::string>() : std::string();
        };
        // A JSON integer within a long long; one beyond it (held unsigned) is none.
        const auto integer = [](const nlohmann::json& j, long long& n) {
            if (j.is_number_unsigned()) {
                if (j.get<unsigned long long>() >
                    static_cast<unsigned long long>(std::numeric_limits<long long>::max()))
                    return false;
            } else if (!j.is_number_integer()) {
                return false;
            }
            n = j.get<long long>();
            return true;
        };
        // What the record gave: its row (and the row's values) and its numbers.
        const auto given = [&](const nlohmann::json* row_, const nlohmann::json* numbers,
                               const nlohmann::json* values) {
            long long n = 0;
            if (row_ && (!integer(*row_, n) || !row(n, e.given.row))) return LineIs::Spoilt;
            if (e.given.row > 0 && values && values->is_string()) e.given.rowValues = values->get<std::string>();
            if (numbers) {
                if (!numbers->is_object()) return LineIs::Spoilt;
                for (const auto& [field, value] : numbers->items())
                    if (!integer(value, n) || !number(field + "=" + std::to_string(n))) return LineIs::Spoilt;
            }
            return LineIs::Record;
        };
        if (givenOnly) {
            std::string_view rowText, numbersText, valuesText;
            if (QuickKeys(bytes, rowText, numbersText, valuesText)) {
                if (QuickGiven(rowText, numbersText, e.given)) return LineIs::Record;
                e.given = {};
                const auto parsed = [](std::string_view text) {
                    return text.empty() ? nlohmann::json()
                                        : nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
                };
                const nlohmann::json r = parsed(rowText), n = parsed(numbersText), v = parsed(valuesText);
                return given(rowText.empty() ? nullptr : &r, numbersText.empty() ? nullptr : &n,
                             valuesText.empty() ? nullptr : &v);
            }
        }
        const auto j = nlohmann::json::parse(bytes.begin(), bytes.end(), nullptr, false);
        if (!j.is_object()) return LineIs::Spoilt;
        e = {word(j, "port"), {}, word(j, "identification"), word(j, "start"), word(j, "result"), {}, {}, word(j, "sha256")};
        const auto at = [&](const char* key) {
            const auto v = j.find(key);
            return v == j.end() ? nullptr : &*v;
        };
        return given(at("row"), at("numbers"), at("row_values"));
    }
    const auto integer = [](std::string_view cell, long long& n) {
        const auto [end, failed] = std::from_chars(cell.data(), cell.data() + cell.size(), n);
        return !cell.empty() && failed == std::errc() && end == cell.data() + cell.size();
    };
    // The numbers given, "FIELD=VALUE" one space apart.
    const auto numbers = [&](std::string_view text) {
        for (std::size_t from = 0; from < text.size();) {
            const std::size_t to = std::min(text.find(' ', from), text.size());
            if (to > from && !number(std::string(text.substr(from, to - from)))) return false;
            from = to + 1;
        }
        return true;
    };
    if (givenOnly) {
        thread_local std::vector<std::string_view> quick;
        const auto plain = [](std::string_view cell) {
            return std::all_of(cell.begin(), cell.end(), [](char c) { return (unsigned char)c < 0x80; });
        };
        // A heading, text in another code page, or a cell written after an apostrophe (see
        // csvField) is left to the library, which knows them.
        if (QuickCells(bytes, separator, quick) && quick.size() >= 12 && plain(quick[0]) && quick[0] != "port" &&
            quick[10].find_first_of("\"'") == std::string_view::npos &&
            quick[11].find_first_of("\"'") == std::string_view::npos && (quick.size() == 12 || plain(quick[12]))) {
            long long n = 0;
            if (!quick[10].empty() && (!integer(quick[10], n) || !row(n, e.given.row))) return LineIs::Spoilt;
            if (e.given.row > 0 && quick.size() > 12) e.given.rowValues = QuickCell(quick[12]);
            return numbers(quick[11]) ? LineIs::Record : LineIs::Spoilt;
        }
    }
    std::vector<std::string> cells = CsvCells(SpreadsheetTextAsUtf8(std::string(bytes)), separator);
    // The headings, of either form, and the records of an earlier version, which gave nothing out,
    // are no loss.
    if ((!cells.empty() && (cells[0] == "port" || cells[0] == "Порт")) || cells.size() == 10)
        return LineIs::Nothing;
    if (cells.size() < 12) return LineIs::Spoilt;
    e = {std::move(cells[0]), {}, std::move(cells[1]), std::move(cells[5]), std::move(cells[7]), {}, {},
         std::move(cells[4])};
    long long n = 0;
    if (!cells[10].empty() && (!integer(cells[10], n) || !row(n, e.given.row))) return LineIs::Spoilt;
    // Records of earlier versions name a row only by its place.
    if (e.given.row > 0 && cells.size() > 12) e.given.rowValues = std::move(cells[12]);
    return numbers(cells[11]) ? LineIs::Record : LineIs::Spoilt;
}

SysError Report::ReadRecords(SharedFile& file, bool csv, const EachEntry& each,
                             std::vector<std::size_t>* passedOver) {
    // A part at a time, whole lines each: the text is never held whole beside what it gives.
    std::string carry, chunk;
    std::size_t line = 0;
    char separator = ';';
    for (std::uint64_t at = 0;;) {
        if (const SysError failed = file.read(at, chunk, kChunkBytes)) return failed;
        if (chunk.empty()) break;
        at += chunk.size();
        carry += chunk;
        const std::size_t end = carry.rfind('\n');
        if (end == std::string::npos) continue;
        if (line == 0 && csv) separator = separatorOf(carry.substr(0, carry.find('\n')));
        ForEachRecord(std::string_view(carry).substr(0, end), csv, each, passedOver, line, separator);
        line += std::size_t(std::count(carry.begin(), carry.begin() + std::ptrdiff_t(end) + 1, '\n'));
        carry.erase(0, end + 1);
    }
    if (!carry.empty()) ForEachRecord(carry, csv, each, passedOver, line, separator);
    return {};
}

bool Report::entries(const EachEntry& each, std::string& error, const LockWait& wait) {
    std::lock_guard lock(mutex_);
    if (std::string busy = lockFile(wait); !busy.empty()) {
        error = std::move(busy);
        return false;
    }
    const SysError failed = ReadRecords(*file_, format_ == Format::Csv, each, nullptr);
    file_->unlock();
    if (failed) error = path_ + ": " + FileErrorText(failed.code);
    return !failed;
}

} // namespace tk7v::station
