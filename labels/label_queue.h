#pragma once
// Labels on their way to a printer or a folder, made one after another on a thread of their own,
// so that a printer that is off, out of paper or gone never holds a port or a window. A label that
// fails stays first and is tried again every `retry` until it goes through; those after it wait
// their turn, as the printer's own queue would keep them.
//
// Threads: add(), retryNow() and waiting() from any thread; `told` runs on the queue's thread and
// must not call back into the queue. The destructor ends the thread; labels still waiting are
// dropped with it.
#include "label.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace tk7v::labels {

// Where a label goes: a printer by the system's name, else a PDF in a folder.
struct LabelWhere {
    std::string printer;
    std::filesystem::path folder;
    LabelSize size;
    bool any() const { return !printer.empty() || !folder.empty(); }
};

// Makes one label where it is to go; the failure in words, empty when made.
std::string MakeLabel(const LabelContent& content, const std::string& port, const LabelWhere& where,
                      std::chrono::system_clock::time_point when);

class LabelQueue {
public:
    // After each try of label `id`: what failed, empty when it was made.
    using Told = std::function<void(int id, const std::string& failed)>;
    explicit LabelQueue(Told told, std::chrono::milliseconds retry = std::chrono::seconds(5));
    ~LabelQueue();
    LabelQueue(const LabelQueue&) = delete;
    LabelQueue& operator=(const LabelQueue&) = delete;

    // The label's id, which `told` names.
    int add(LabelContent content, std::string port, LabelWhere where);
    // A label that failed is tried again at once.
    void retryNow();
    std::size_t waiting() const;

private:
    struct Job {
        int id;
        LabelContent content;
        std::string port;
        LabelWhere where;
        std::chrono::system_clock::time_point when;
    };
    void run();

    Told told_;
    std::chrono::milliseconds retry_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_; // under mutex_; the first is made or tried next
    int nextId_ = 1;       // under mutex_
    bool ending_ = false;  // under mutex_
    bool retryNow_ = false; // under mutex_
    std::thread thread_;
};

} // namespace tk7v::labels
