#pragma once
// A manual-reset event: stays set until reset and wakes every waiter. The worker sets it when its
// run ends; the window waits for it (bounded) when it stops a transfer.
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace tk7v {

class ManualResetEvent {
public:
    void set() {
        {
            std::lock_guard lock(mutex_);
            set_ = true;
        }
        cv_.notify_all();
    }
    void reset() {
        std::lock_guard lock(mutex_);
        set_ = false;
    }
    bool isSet() const {
        std::lock_guard lock(mutex_);
        return set_;
    }
    // True when the event was set within the timeout.
    bool wait(std::chrono::milliseconds timeout) const {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, timeout, [this] { return set_; });
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable cv_;
    bool set_ = false;
};

} // namespace tk7v
