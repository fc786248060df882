#pragma once
// A stop request that wakes every wait at once. Any thread may request it; a blocking wait of
// the serial layer includes the signal's handle in its wait set, so nothing waits by sleeping.
#include <atomic>
#include <chrono>
#include <cstdint>

namespace tk7v {

class StopSignal {
public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    void request();
    bool requested() const { return flag_.load(std::memory_order_acquire); }
    // Waits for the given time or until a stop is requested; true when stopped.
    bool waitFor(std::chrono::milliseconds timeout) const;
    // What the serial layer waits on: a descriptor that becomes readable (POSIX) or an event
    // that becomes signalled (Windows) once a stop is requested.
    std::intptr_t nativeHandle() const { return handle_; }

private:
    std::atomic<bool> flag_{false};
    std::intptr_t handle_ = -1;
};

} // namespace tk7v
