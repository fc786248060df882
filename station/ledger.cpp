#include "ledger.h"

#include "report.h"
#include "server_ledger.h"

#include "link/network.h"
#include "model/config_file.h"

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

std::string SpaceJoined(const std::vector<std::string>& words) {
    std::string all;
    for (const auto& w : words)
        all += (all.empty() ? "" : " ") + w;
    return all;
}

std::vector<GivenValue> GivenValues(const std::vector<LedgerEntry>& entries) {
    std::vector<GivenValue> values;
    // Each value's place in `values`, by (field, list, value): a row is of its list, a number of
    // its field.
    std::map<std::tuple<std::string, std::string, long long>, std::size_t> at;
    const auto seen = [&](const LedgerEntry& e, const std::string& field, const std::string& list,
                          long long value) {
        const auto [it, first] = at.try_emplace({field, list, value}, values.size());
        if (first) values.push_back({field, list, value, e, e.result});
        GivenValue& v = values[it->second];
        // The device's later records (its write's end, a retry) say what became of it.
        v.result = e.result;
        if (v.claim.identification.empty()) v.claim.identification = e.identification;
    };
    for (const LedgerEntry& e : entries) {
        if (e.given.row > 0) seen(e, {}, e.list, e.given.row);
        for (const std::string& n : e.given.numbers) {
            const std::size_t eq = n.find('=');
            if (eq == std::string::npos) continue;
            char* end = nullptr;
            const long long value = std::strtoll(n.c_str() + eq + 1, &end, 10);
            if (end && *end == '\0' && eq + 1 < n.size()) seen(e, n.substr(0, eq), {}, value);
        }
    }
    return values;
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
