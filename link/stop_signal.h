#pragma once
// A stop request that wakes every wait at once. Any thread may request it (a signal handler too:
// it only sets a flag and signals an OS object); a blocking wait of the serial layer includes the
// signal's handle in its wait set, so nothing waits by sleeping.
#include "link/wake_signal.h"

#include <atomic>
#include <chrono>
#include <cstdint>

namespace tk7v {

class StopSignal {
public:
    void request() {
        if (!flag_.exchange(true, std::memory_order_acq_rel)) wake_.signal();
    }
    bool requested() const { return flag_.load(std::memory_order_acquire); }
    // Waits for the given time or until a stop is requested; true when stopped.
    bool waitFor(std::chrono::milliseconds timeout) const;
    // What the serial layer waits on: ready once a stop is requested, and from then on.
    std::intptr_t nativeHandle() const { return wake_.nativeHandle(); }

private:
    std::atomic<bool> flag_{false};
    WakeSignal wake_;
};

} // namespace tk7v
