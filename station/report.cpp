#include "report.h"

#include "model/config_file.h"

#include <csv.h>
#include <nlohmann/json.hpp>

#include <ctime>
#include <filesystem>

namespace tk7v::station {

namespace {

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Every field quoted, quotes doubled: libcsv's writer, the reader's own library.
std::string csvField(const std::string& s) {
    std::string out(csv_write(nullptr, 0, s.data(), s.size()), '\0');
    csv_write(out.data(), out.size(), s.data(), s.size());
    return out;
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

std::mutex& timeMutex() {
    static std::mutex m; // localtime and gmtime share a static buffer
    return m;
}

} // namespace

std::unique_ptr<Report> Report::open(const std::string& path, std::string& error) {
    Format format;
    if (endsWith(path, ".jsonl"))
        format = Format::JsonLines;
    else if (endsWith(path, ".csv"))
        format = Format::Csv;
    else {
        error = path + ": имя отчёта должно оканчиваться на .jsonl или .csv";
        return nullptr;
    }
    const std::filesystem::path p = Utf8Path(path);
    std::error_code ec;
    const bool fresh = !std::filesystem::exists(p, ec) || std::filesystem::file_size(p, ec) == 0;
    std::ofstream out(p, std::ios::binary | std::ios::app);
    if (!out) {
        error = path + ": отчёт не открывается для записи";
        return nullptr;
    }
    if (format == Format::Csv && fresh) {
        out << "port,identification,command,file,sha256,start,end,result,message,differing\r\n";
        out.flush();
    }
    return std::unique_ptr<Report>(new Report(format, std::move(out)));
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

bool Report::add(const ReportRecord& r) {
    std::string line;
    if (format_ == Format::JsonLines) {
        const nlohmann::json j = {{"port", r.port},        {"identification", r.identification},
                                  {"command", r.command},  {"file", r.file},
                                  {"sha256", r.sha256},    {"start", isoTime(r.start)},
                                  {"end", isoTime(r.end)}, {"result", r.result},
                                  {"message", r.message},  {"differing", r.differing}};
        // Device text decoded from Windows-1251 is valid UTF-8; replace anything else rather than
        // lose the record.
        line = j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    } else {
        std::string differing;
        for (const auto& d : r.differing) {
            if (!differing.empty()) differing += ' ';
            differing += d;
        }
        for (const std::string& f : {r.port, r.identification, r.command, r.file, r.sha256, isoTime(r.start),
                                     isoTime(r.end), r.result, r.message, differing}) {
            if (!line.empty()) line += ',';
            line += csvField(f);
        }
        line += "\r\n";
    }
    std::lock_guard lock(mutex_);
    out_ << line;
    out_.flush();
    return static_cast<bool>(out_);
}

} // namespace tk7v::station
