#include "report.h"

#include "values_table.h"

#include "model/config_file.h"

#include <csv.h>
#include <nlohmann/json.hpp>

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
    "Строка таблицы", "Выданные номера"};

// The separator of a report that starts with `head` (its first line at least), decided by its
// headings: a spreadsheet that saved it again may have chosen "," beside its byte-order mark.
char separatorOf(const std::string& head) {
    return CsvSeparator(SpreadsheetTextAsUtf8(head.substr(0, head.find('\n'))));
}

std::vector<std::string> CsvCells(const std::string& line, char separator);

struct CsvRow {
    std::size_t line;               // from 1
    std::vector<std::string> cells; // none when the line does not parse
};

// The cells of each line of a CSV report, line by line: a record cut short by a crash (an open
// quote, say) then spoils only its own line, never the records after it. No record the station
// claims with holds a line break. Blank lines are left out.
std::vector<CsvRow> CsvRows(const std::string& bytes) {
    std::vector<CsvRow> rows;
    const std::string text = SpreadsheetTextAsUtf8(bytes);
    const char separator = CsvSeparator(text);
    std::size_t line = 0;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        ++line;
        std::string bytes = text.substr(at, end - at);
        at = end + 1;
        if (bytes.ends_with('\r')) bytes.pop_back();
        if (bytes.empty()) continue;
        rows.push_back({line, CsvCells(bytes, separator)});
    }
    return rows;
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
          SpaceJoined(r.given.numbers)}) {
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
        std::string text;
        if (const SysError e = file_->read(0, text)) return e;
        separator_ = separatorOf(text);
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
    std::string text;
    if (!failed) failed = file_->read(0, text);
    if (!failed) {
        if (const std::optional<ReportRecord> record = choose(TakenIn(text, format_ == Format::Csv)))
            failed = appendLocked(*record);
    }
    file_->unlock();
    if (failed) error = path_ + ": отчёт не записан: " + FileErrorText(failed.code);
    return !failed;
}

bool Report::readWhole(std::string& text, std::string& error, const LockWait& wait) {
    std::lock_guard lock(mutex_);
    if (std::string busy = lockFile(wait); !busy.empty()) {
        error = std::move(busy);
        return false;
    }
    const SysError failed = file_->read(0, text);
    file_->unlock();
    if (failed) error = path_ + ": " + FileErrorText(failed.code);
    return !failed;
}

bool Report::taken(Taken& out, std::string& error, const LockWait& wait) {
    std::string text;
    if (!readWhole(text, error, wait)) return false;
    out = TakenIn(text, format_ == Format::Csv);
    return true;
}

Taken Report::TakenIn(const std::string& text, bool csv, std::vector<std::size_t>* passedOver) {
    Taken taken;
    std::string field;
    long long value = 0;
    for (const LedgerEntry& e : EntriesIn(text, csv, passedOver)) {
        if (e.given.row > 0) taken.rows.insert(e.given.row);
        for (const std::string& n : e.given.numbers)
            if (SplitGiven(n, field, value)) taken.numbers[field].insert(value);
    }
    return taken;
}

std::vector<LedgerEntry> Report::EntriesIn(const std::string& text, bool csv,
                                           std::vector<std::size_t>* passedOver) {
    std::vector<LedgerEntry> entries;
    const auto passOver = [&](std::size_t line) {
        if (passedOver) passedOver->push_back(line);
    };
    // A list's rows fit an int: a record naming a row beyond is spoilt, and read as the row its
    // number wraps to it would keep that row from ever being given. One of 0 or less names none.
    const auto row = [](long long n, int& to) {
        if (n > std::numeric_limits<int>::max()) return false;
        to = n > 0 ? int(n) : 0;
        return true;
    };
    // A number as SplitGiven takes it, else the record is spoilt.
    const auto number = [](LedgerEntry& e, const std::string& given) {
        std::string field;
        long long value = 0;
        if (!SplitGiven(given, field, value)) return false;
        e.given.numbers.push_back(given);
        return true;
    };
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
        std::size_t line = 0;
        for (std::size_t at = 0; at < text.size();) {
            std::size_t end = text.find('\n', at);
            if (end == std::string::npos) end = text.size();
            ++line;
            const std::string_view bytes(text.data() + at, end - at);
            at = end + 1;
            if (bytes.find_first_not_of(" \t\r") == std::string_view::npos) continue;
            const auto j = nlohmann::json::parse(bytes.begin(), bytes.end(), nullptr, false);
            if (!j.is_object()) {
                passOver(line);
                continue;
            }
            LedgerEntry e{
                word(j, "port"), {}, word(j, "identification"), word(j, "start"), word(j, "result"), {}, {}};
            bool readable = true;
            long long n = 0;
            if (const auto given = j.find("row"); given != j.end())
                readable = integer(*given, n) && row(n, e.given.row);
            if (const auto numbers = j.find("numbers"); readable && numbers != j.end()) {
                readable = numbers->is_object();
                for (const auto& [field, value] : numbers->items())
                    readable = readable && integer(value, n) && number(e, field + "=" + std::to_string(n));
            }
            if (readable)
                entries.push_back(std::move(e));
            else
                passOver(line);
        }
        return entries;
    }
    const auto integer = [](const std::string& cell, long long& n) {
        const auto [end, failed] = std::from_chars(cell.data(), cell.data() + cell.size(), n);
        return !cell.empty() && failed == std::errc() && end == cell.data() + cell.size();
    };
    for (auto& [line, cells] : CsvRows(text)) {
        // The headings, of either form, and the records of an earlier version, which gave nothing
        // out, are no loss.
        const bool heading = !cells.empty() && (cells[0] == "port" || cells[0] == "Порт");
        if (heading || cells.size() == 10) continue;
        if (cells.size() < 12) {
            passOver(line);
            continue;
        }
        LedgerEntry e{
            std::move(cells[0]), {}, std::move(cells[1]), std::move(cells[5]), std::move(cells[7]), {}, {}};
        bool readable = true;
        long long n = 0;
        if (!cells[10].empty()) readable = integer(cells[10], n) && row(n, e.given.row);
        std::size_t from = 0;
        const std::string& numbers = cells[11];
        while (readable && from < numbers.size()) {
            std::size_t to = numbers.find(' ', from);
            if (to == std::string::npos) to = numbers.size();
            if (to > from) readable = number(e, numbers.substr(from, to - from));
            from = to + 1;
        }
        if (readable)
            entries.push_back(std::move(e));
        else
            passOver(line);
    }
    return entries;
}

bool Report::entries(std::vector<LedgerEntry>& out, std::string& error, const LockWait& wait) {
    std::string text;
    if (!readWhole(text, error, wait)) return false;
    out = EntriesIn(text, format_ == Format::Csv);
    return true;
}

} // namespace tk7v::station
