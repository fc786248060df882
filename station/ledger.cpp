#include "ledger.h"

#include "report.h"
#include "server_ledger.h"

#include "link/network.h"
#include "link/shared_file.h"
#include "model/config_file.h"
#include "model/parameter_image.h"

#include <charconv>
#include <cstdlib>
#include <fstream>
#include <map>
#include <tuple>

namespace tk7v::station {

std::unique_ptr<Ledger> OpenLedger(const std::string& where, const std::string& list,
                                   std::chrono::milliseconds timeout, std::string& error) {
    if (IsServerAddress(where)) return ServerLedger::open({where, list, ComputerName(), timeout}, error);
    return Report::open(where, error);
}

LedgerRead ReadGivenValues(const std::string& where, std::chrono::milliseconds timeout,
                           const std::function<void(const GivenValue&)>& each,
                           std::vector<std::size_t>& passedOver, std::string& error) {
    if (IsServerAddress(where)) {
        const std::unique_ptr<ServerLedger> ledger = ServerLedger::open({where, {}, ComputerName(), timeout}, error);
        if (!ledger) return LedgerRead::NotALedger;
        return ledger->givenValues(each, error) ? LedgerRead::Read : LedgerRead::ServerFailed;
    }
    // A file's records in its order, each value once.
    GivenValueList list;
    const LedgerRead read =
        ReadLedgerEntries(where, timeout, [&](LedgerEntry&& e) { list.add(e); }, passedOver, error);
    if (read != LedgerRead::Read) return read;
    for (const GivenValue& v : list.values())
        each(v);
    return LedgerRead::Read;
}

LedgerRead ReadLedgerEntries(const std::string& where, std::chrono::milliseconds timeout,
                             const std::function<void(LedgerEntry&&)>& each, std::vector<std::size_t>& passedOver,
                             std::string& error) {
    if (IsServerAddress(where)) {
        const std::unique_ptr<ServerLedger> ledger = ServerLedger::open({where, {}, ComputerName(), timeout}, error);
        if (!ledger) return LedgerRead::NotALedger;
        return ledger->entries(each, error) ? LedgerRead::Read : LedgerRead::ServerFailed;
    }
    const bool csv = where.ends_with(".csv");
    if (!csv && !where.ends_with(".jsonl")) {
        error = where + ": ожидается файл .csv или .jsonl или адрес postgresql://…";
        return LedgerRead::NotALedger;
    }
    SysError failed;
    const std::unique_ptr<SharedFile> file = SharedFile::open(Utf8Path(where), failed, true);
    if (file) failed = Report::ReadRecords(*file, csv, each, &passedOver);
    if (failed) {
        error = where + ": " + FileErrorText(failed.code);
        return LedgerRead::FileFailed;
    }
    return LedgerRead::Read;
}

LedgerRead ImportLedger(const std::string& file, const std::string& address, const std::string& legacyList,
                        std::chrono::milliseconds timeout, ImportCount& count,
                        std::vector<std::size_t>& passedOver, std::string& error) {
    const bool csv = file.ends_with(".csv");
    if (!csv && !file.ends_with(".jsonl")) {
        error = file + ": ожидается файл учёта или отчёта .csv или .jsonl";
        return LedgerRead::NotALedger;
    }
    if (!IsServerAddress(address)) {
        error = "--to " + address + ": ожидается адрес сервера postgresql://…";
        return LedgerRead::NotALedger;
    }
    const std::unique_ptr<ServerLedger> server = ServerLedger::open({address, {}, ComputerName(), timeout}, error);
    if (!server) return LedgerRead::NotALedger;
    SysError failed;
    const std::unique_ptr<SharedFile> source = SharedFile::open(Utf8Path(file), failed, true);
    // Rows earlier versions gave are named by their place alone: the server keeps such a row
    // under its list's name, which the file does not say.
    std::size_t byPlace = 0;
    if (source)
        failed = Report::ReadRecords(*source, csv, [&](LedgerEntry&& e) {
            byPlace += e.given.row > 0 && e.given.rowValues.empty();
        });
    if (failed) {
        error = file + ": " + FileErrorText(failed.code);
        return LedgerRead::FileFailed;
    }
    if (byPlace > 0 && legacyList.empty()) {
        error = file + ": строки списка, выданные прежней версией (" + std::to_string(byPlace) +
                "), названы только номером: укажите --list ИМЯ, имя файла их списка (например phones.csv)";
        return LedgerRead::NotALedger;
    }
    // A few hundred records a transaction: a server gone part way keeps whole ones, and the
    // import run again adds only what it lacks.
    constexpr std::size_t kBatch = 500;
    std::vector<LedgerEntry> batch;
    bool stored = true;
    const auto store = [&] {
        stored = stored && (batch.empty() || server->importEntries(batch, file, legacyList, count, error));
        batch.clear();
    };
    failed = Report::ReadRecords(
        *source, csv,
        [&](LedgerEntry&& e) {
            if (!e.given.any() || !stored) return;
            batch.push_back(std::move(e));
            if (batch.size() == kBatch) store();
        },
        &passedOver);
    if (failed) {
        error = file + ": " + FileErrorText(failed.code);
        return LedgerRead::FileFailed;
    }
    store();
    return stored ? LedgerRead::Read : LedgerRead::ServerFailed;
}

void Taken::add(const Given& given) {
    if (given.row > 0) {
        if (given.rowValues.empty())
            rows.insert(given.row);
        else
            rowValues.insert(given.rowValues);
    }
    std::string field;
    long long value = 0;
    for (const std::string& n : given.numbers)
        if (SplitGiven(n, field, value)) numbers[field].insert(value);
}

std::optional<long long> Taken::highest(const std::string& field, long long first, long long last) const {
    const auto given = numbers.find(field);
    if (given == numbers.end()) return std::nullopt;
    const auto above = given->second.upper_bound(last);
    if (above == given->second.begin() || *std::prev(above) < first) return std::nullopt;
    return *std::prev(above);
}

bool Taken::numberGiven(const std::string& field, long long value) const {
    const auto given = numbers.find(field);
    return given != numbers.end() && given->second.contains(value);
}

std::size_t Taken::firstFree(const std::vector<ListRow>& list, std::size_t from) const {
    for (std::size_t i = from; i < list.size(); ++i)
        if (!rowValues.contains(list[i].values) && !rows.contains(list[i].row)) return i;
    return list.size();
}

std::string SpaceJoined(const std::vector<std::string>& words) {
    std::string all;
    for (const auto& w : words)
        all += (all.empty() ? "" : " ") + w;
    return all;
}

bool SplitGiven(std::string_view given, std::string& field, long long& value) {
    const std::size_t eq = given.find('=');
    if (eq == 0 || eq == std::string_view::npos) return false;
    for (const char c : given.substr(0, eq))
        if (!(c == '_' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
            return false;
    const char* end = given.data() + given.size();
    // from_chars takes no sign, no space and no digits past the type: what another reader would
    // wrap or clamp is no number here.
    const auto [stop, failed] = std::from_chars(given.data() + eq + 1, end, value);
    if (failed != std::errc() || stop != end || eq + 1 == given.size()) return false;
    field = given.substr(0, eq);
    // A ledger's lines name the same field or two over and over: the last one found is asked first.
    thread_local std::string lastName;
    thread_local const FieldSpec* last = nullptr;
    if (field != lastName) {
        last = FindField(field);
        lastName = field;
    }
    const FieldSpec* known = last;
    return !known || !known->range || (value >= known->range->low && value <= known->range->high);
}

std::string PassedOverText(const std::string& path, const std::vector<std::size_t>& lines) {
    if (lines.empty()) return {};
    if (lines.size() == 1)
        return path + ": строка " + std::to_string(lines.front()) + " не читается и пропущена";
    // The first few say where to look; a file spoilt throughout would make a warning of pages.
    constexpr std::size_t kNamed = 5;
    std::string named;
    for (std::size_t i = 0; i < lines.size() && i < kNamed; ++i)
        named += (i ? ", " : "") + std::to_string(lines[i]);
    if (lines.size() > kNamed) named += ", …";
    return path + ": не читаются и пропущены строки (" + std::to_string(lines.size()) + "): " + named;
}

void GivenValueList::add(const LedgerEntry& e) {
    const auto seen = [&](const std::string& field, const std::string& list, long long value) {
        const auto [it, first] = at_.try_emplace({field, list, value}, values_.size());
        if (first) {
            values_.push_back({field, e.list, value, e, e.result});
            values_.back().claim.given = {}; // what the value says of it is enough
        }
        GivenValue& v = values_[it->second];
        // The device's later records (its write's end, a retry) say what became of it.
        v.result = e.result;
        if (v.claim.identification.empty()) v.claim.identification = e.identification;
    };
    // A row is its values' wherever they were given; one an earlier version gave, its list's.
    if (e.given.row > 0) seen({}, e.given.rowValues.empty() ? e.list : e.given.rowValues, e.given.row);
    std::string field;
    long long value = 0;
    for (const std::string& n : e.given.numbers)
        if (SplitGiven(n, field, value)) seen(field, {}, value);
}

std::string WriteWholeFile(const std::filesystem::path& file, const std::string& bytes) {
    std::filesystem::path part = file;
    part += ".part";
    std::error_code ignored, failed;
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.flush();
        if (!out) {
            std::filesystem::remove(part, ignored);
            return PathUtf8(file) + ": файл не записывается";
        }
    }
    std::filesystem::rename(part, file, failed);
    if (failed) {
        std::filesystem::remove(part, ignored);
        return PathUtf8(file) + ": " + failed.message();
    }
    return {};
}

} // namespace tk7v::station
