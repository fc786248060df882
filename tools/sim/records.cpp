#include "records.h"

namespace tk7v::sim {

Records::Records(const std::string& logFile, bool logTimes, const std::string& timingFile)
    : logTimes_(logTimes) {
    if (!logFile.empty() && logFile != "-") log_ = std::fopen(logFile.c_str(), "a");
    if (logFile == "-") log_ = stderr;
    if (!timingFile.empty()) timing_ = std::fopen(timingFile.c_str(), "w");
}

Records::~Records() {
    if (log_ && log_ != stderr) std::fclose(log_);
    if (timing_) std::fclose(timing_);
}

void Records::note(const std::string& line) const {
    if (!log_) return;
    if (logTimes_) {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        std::fprintf(
            log_, "%lld ",
            static_cast<long long>(std::chrono::duration_cast<std::chrono::microseconds>(now).count()));
    }
    std::fprintf(log_, "%s\n", line.c_str());
    std::fflush(log_);
}

void Records::answeredAfter(std::chrono::microseconds gap) const {
    if (!timing_) return;
    std::fprintf(timing_, "%lld\n", static_cast<long long>(gap.count()));
    std::fflush(timing_);
}

} // namespace tk7v::sim
