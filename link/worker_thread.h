#pragma once
// The thread a link's exchanges run on, one after another: a station identifies, writes and
// reads back each device, and a thread started and ended for every exchange costs more than the
// exchange's own waits.
//
// Ownership: the link owns it and it outlives every task handed to it; its destructor waits for
// the task in hand and joins the thread, so nothing runs on it once its owner is gone. Threads:
// run() and wait() come from the owner's thread; the task runs on this one.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace tk7v {

class WorkerThread {
public:
    WorkerThread() = default;
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Hands `task` over (the thread starts with the first one) once the task before has returned;
    // its number, for wait().
    std::uint64_t run(std::function<void()> task);
    // Returns once task `number` has returned.
    void wait(std::uint64_t number);

private:
    void loop();

    std::mutex mutex_;
    std::condition_variable cv_;
    std::function<void()> task_;
    std::uint64_t handed_ = 0, returned_ = 0; // tasks handed over and returned, under mutex_
    bool quit_ = false;
    std::thread thread_;
};

} // namespace tk7v
