#include "waiting_records.h"

#include "sha256.h"

#include "model/config_file.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <system_error>

namespace tk7v::station {

namespace {

using Clock = std::chrono::system_clock;

// Times as milliseconds since the epoch: read back exactly, whatever the zone.
long long MillisOf(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

} // namespace

std::filesystem::path WaitingRecordsFile(const std::filesystem::path& folder, const std::string& server,
                                         const std::string& list) {
    const std::string key = server + '\n' + list;
    const std::string digest =
        Sha256Hex({reinterpret_cast<const std::uint8_t*>(key.data()), key.size()}).substr(0, 16);
    return folder / ("server-records-" + digest + ".jsonl");
}

std::string SaveWaitingRecords(const std::filesystem::path& file, const std::string& server,
                               const std::string& list, const std::vector<ReportRecord>& records) {
    std::error_code failed;
    if (records.empty()) {
        std::filesystem::remove(file, failed);
        return failed ? PathUtf8(file) + ": " + failed.message() : std::string();
    }
    std::filesystem::create_directories(file.parent_path(), failed);
    std::string text;
    for (const ReportRecord& r : records) {
        nlohmann::json j = {{"server", server},       {"list", list},
                            {"port", r.port},         {"identification", r.identification},
                            {"command", r.command},   {"file", r.file},
                            {"sha256", r.sha256},     {"start", MillisOf(r.start)},
                            {"end", MillisOf(r.end)}, {"result", r.result},
                            {"message", r.message},   {"differing", r.differing},
                            {"row", r.given.row},     {"numbers", r.given.numbers}};
        text += j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    }
    return WriteWholeFile(file, text);
}

bool ReadWaitingRecords(const std::filesystem::path& file, const std::string& server, const std::string& list,
                        std::vector<ReportRecord>& records, std::string& error) {
    records.clear();
    std::error_code ignored;
    if (!std::filesystem::exists(file, ignored)) return true;
    std::ifstream in(file, std::ios::binary);
    if (!in.is_open()) {
        error = PathUtf8(file) + ": не удалось открыть файл";
        return false;
    }
    for (std::string line; std::getline(in, line);) {
        const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
        if (!j.is_object() || j.value("server", "") != server || j.value("list", "") != list) continue;
        try {
            ReportRecord r;
            r.port = j.at("port").get<std::string>();
            r.identification = j.at("identification").get<std::string>();
            r.command = j.at("command").get<std::string>();
            r.file = j.at("file").get<std::string>();
            r.sha256 = j.at("sha256").get<std::string>();
            r.start = Clock::time_point(std::chrono::milliseconds(j.at("start").get<long long>()));
            r.end = Clock::time_point(std::chrono::milliseconds(j.at("end").get<long long>()));
            r.result = j.at("result").get<std::string>();
            r.message = j.at("message").get<std::string>();
            r.differing = j.at("differing").get<std::vector<std::string>>();
            r.given.row = j.at("row").get<int>();
            r.given.numbers = j.at("numbers").get<std::vector<std::string>>();
            records.push_back(std::move(r));
        } catch (const nlohmann::json::exception&) {
            // A line changed by hand is passed over: the rest are stored.
        }
    }
    return true;
}

} // namespace tk7v::station
