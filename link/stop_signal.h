#pragma once
// Wake-ups between the window thread and a transfer worker. Nothing here waits by sleeping:
// a stop request wakes every wait at once.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace tk7v {

// A stop request that a poll() can wait on: the flag, plus an eventfd that becomes readable
// when the flag is set. Any thread may request; waits see it at once.
class StopSignal {
public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    void request();
    bool requested() const { return flag_.load(std::memory_order_acquire); }
    // Readable once requested; for poll().
    int fd() const { return fd_; }
    // Waits for the given time or until a stop is requested; true when stopped.
    bool waitFor(std::chrono::milliseconds timeout) const;

private:
    std::atomic<bool> flag_{false};
    int fd_ = -1;
};

// A manual-reset event: stays set until reset, wakes every waiter.
class ManualResetEvent {
public:
    void set();
    void reset();
    bool isSet() const;
    // True when the event was set within the timeout.
    bool wait(std::chrono::milliseconds timeout) const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable cv_;
    bool set_ = false;
};

} // namespace tk7v
