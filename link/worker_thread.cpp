#include "link/worker_thread.h"

namespace tk7v {

WorkerThread::~WorkerThread() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable()) thread_.join();
}

std::uint64_t WorkerThread::run(std::function<void()> task) {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return returned_ == handed_; });
    task_ = std::move(task);
    const std::uint64_t number = ++handed_;
    if (!thread_.joinable()) thread_ = std::thread([this] { loop(); });
    lock.unlock();
    cv_.notify_all();
    return number;
}

void WorkerThread::wait(std::uint64_t number) {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return returned_ >= number; });
}

void WorkerThread::loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        // A task handed over before the owner went away still runs: its owner waits for it.
        cv_.wait(lock, [this] { return returned_ < handed_ || quit_; });
        if (returned_ == handed_) return;
        std::function<void()> task = std::move(task_);
        lock.unlock();
        task();
        task = nullptr; // what the task holds goes before its owner hears that it returned
        lock.lock();
        ++returned_;
        cv_.notify_all();
    }
}

} // namespace tk7v
