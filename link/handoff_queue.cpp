#include "link/handoff_queue.h"

namespace tk7v {

void HandoffQueue::call(std::function<void()> fn) {
    auto task = std::make_shared<Task>();
    task->fn = std::move(fn);
    {
        std::lock_guard lock(mutex_);
        if (detached_) return;
        tasks_.push_back(task);
    }
    cv_.notify_all();
    if (wake_) wake_();
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return task->done || detached_; });
}

bool HandoffQueue::runOne() {
    std::shared_ptr<Task> task;
    {
        std::lock_guard lock(mutex_);
        if (detached_ || tasks_.empty()) return false;
        task = tasks_.front();
        tasks_.pop_front();
    }
    ++depth_;
    task->fn();
    --depth_;
    {
        std::lock_guard lock(mutex_);
        task->done = true;
    }
    cv_.notify_all();
    return true;
}

void HandoffQueue::drain() {
    while (runOne()) {
    }
}

bool HandoffQueue::runUntil(const std::function<bool()>& done,
                            std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        drain();
        std::unique_lock lock(mutex_);
        const unsigned seen = pokes_;
        if (done()) return true;
        if (detached_) return false;
        const auto woken = [&] { return detached_ || !tasks_.empty() || pokes_ != seen; };
        if (deadline == std::chrono::steady_clock::time_point::max())
            cv_.wait(lock, woken);
        else if (!cv_.wait_until(lock, deadline, woken))
            return done();
    }
}

void HandoffQueue::poke() {
    {
        std::lock_guard lock(mutex_);
        ++pokes_;
    }
    cv_.notify_all();
}

void HandoffQueue::detach() {
    {
        std::lock_guard lock(mutex_);
        detached_ = true;
        tasks_.clear();
    }
    cv_.notify_all();
}

} // namespace tk7v
