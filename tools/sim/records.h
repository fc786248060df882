#pragma once
// The simulator's log and timing file. They belong to the line, not to a device: every device
// plugged in the simulator's life writes to the same ones.
#include <chrono>
#include <cstdio>
#include <string>

namespace tk7v::sim {

class Records {
public:
    // A `logFile` of "-" is standard error; empty names are no file. The log is appended to, the
    // timing file started afresh.
    Records(const std::string& logFile, bool logTimes, const std::string& timingFile);
    ~Records();
    Records(const Records&) = delete;
    Records& operator=(const Records&) = delete;

    // A line of the log, after the monotonic clock's microseconds with `logTimes`.
    void note(const std::string& line) const;
    // A line of the timing file: how long the program took to answer a reply.
    void answeredAfter(std::chrono::microseconds gap) const;

private:
    std::FILE* log_ = nullptr;
    std::FILE* timing_ = nullptr;
    bool logTimes_ = false;
};

} // namespace tk7v::sim
