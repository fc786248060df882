#pragma once
// Gives up exchanges whose device has fallen silent. A job runs its exchanges on its own thread
// and waits inside them for the device; one thread per process keeps the time for every job, so
// an exchange hands nothing to another thread and the watch costs a wake-up per time-out, not
// one per exchange.
//
// Ownership: whoever holds the shared watchdog keeps it; the last holder's release ends its
// thread. Threads: watch() and unwatch() from any thread; check() runs on the watchdog's thread
// under its lock, so once unwatch() has returned it is never called for that entry again.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tk7v::station {

class Watchdog {
public:
    using Clock = std::chrono::steady_clock;

    class Watched {
    public:
        // Gives up what has run out of time by `now`; returns when to look again. Nothing may
        // come due before that, an exchange that starts meanwhile included.
        virtual Clock::time_point check(Clock::time_point now) = 0;

    protected:
        ~Watched() = default;
    };

    // The process's watchdog, started by the first caller.
    static std::shared_ptr<Watchdog> shared();

    Watchdog();
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    void watch(Watched& entry);
    void unwatch(Watched& entry);
    // An entry's deadline has come closer than its last check() said (a short wait begins): the
    // watchdog looks at every entry again now.
    void poke();

private:
    void loop();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Watched*> entries_; // under mutex_
    bool quit_ = false;             // under mutex_
    bool poked_ = false;            // under mutex_
    std::thread thread_;
};

} // namespace tk7v::station
