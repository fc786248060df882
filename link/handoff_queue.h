#pragma once
// Synchronous hand-offs from a worker thread to the window thread, without Qt.
//
// The worker calls call(fn): fn runs on the window thread (when it calls drain()) and call()
// returns once it has run. The window wires `wake` to have drain() called soon on its thread.
// Once the window detaches (it is closing), pending and later calls return at once without
// running, so a worker can always finish and be joined.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace tk7v {

class HandoffQueue {
public:
    explicit HandoffQueue(std::function<void()> wake) : wake_(std::move(wake)) {}

    // Worker thread: runs fn on the window thread and waits for it.
    void call(std::function<void()> fn);

    // Window thread: runs every hand-off waiting now.
    void drain();
    // Window thread: runs hand-offs as they come until done() holds (true) or the deadline
    // passes (false). done() is checked after each hand-off and whenever poke() is called.
    bool
    runUntil(const std::function<bool()>& done,
             std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max());
    // Window thread: true while a hand-off runs (its worker waits for it to return).
    bool inHandoff() const { return depth_ > 0; }
    // Any thread: makes runUntil look at its condition again.
    void poke();

    // Window thread: no hand-off runs any more; waiting workers are released.
    void detach();

private:
    struct Task {
        std::function<void()> fn;
        bool done = false;
    };
    bool runOne();

    std::function<void()> wake_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::shared_ptr<Task>> tasks_;
    bool detached_ = false;
    unsigned pokes_ = 0;
    int depth_ = 0; // window thread only
};

} // namespace tk7v
