#include "watchdog.h"

#include <algorithm>

namespace tk7v::station {

std::shared_ptr<Watchdog> Watchdog::shared() {
    static std::mutex mutex;
    static std::weak_ptr<Watchdog> current;
    std::lock_guard lock(mutex);
    std::shared_ptr<Watchdog> w = current.lock();
    if (!w) {
        w = std::make_shared<Watchdog>();
        current = w;
    }
    return w;
}

Watchdog::Watchdog() : thread_([this] { loop(); }) {}

Watchdog::~Watchdog() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void Watchdog::watch(Watched& entry) {
    {
        std::lock_guard lock(mutex_);
        entries_.push_back(&entry);
        poked_ = true;
    }
    changed_.notify_all();
}

void Watchdog::unwatch(Watched& entry) {
    std::lock_guard lock(mutex_);
    std::erase(entries_, &entry);
}

void Watchdog::poke() {
    {
        // Under the lock: a poke that comes while the entries are being looked at is not lost.
        std::lock_guard lock(mutex_);
        poked_ = true;
    }
    changed_.notify_all();
}

void Watchdog::loop() {
    std::unique_lock lock(mutex_);
    while (!quit_) {
        poked_ = false;
        if (entries_.empty()) {
            changed_.wait(lock);
            continue;
        }
        const auto now = Clock::now();
        auto next = Clock::time_point::max();
        for (Watched* e : entries_)
            next = std::min(next, e->check(now));
        // Woken early only to look at a new entry, a poke or to quit; a deadline pushed back by a
        // sign of life is found when the old one comes.
        changed_.wait_until(lock, next, [this] { return quit_ || poked_; });
    }
}

} // namespace tk7v::station
