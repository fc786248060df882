#include "label_queue.h"

namespace tk7v::labels {

std::string MakeLabel(const LabelContent& content, const std::string& port, const LabelWhere& where,
                      std::chrono::system_clock::time_point when) {
    if (!where.printer.empty()) return PrintLabel(content, where.size, where.printer);
    std::error_code ignored; // a folder that cannot be made is told by the save
    std::filesystem::create_directories(where.folder, ignored);
    return SaveLabelPdf(content, where.size, where.folder / std::filesystem::u8path(LabelFileName(content, port, when)));
}

LabelQueue::LabelQueue(Told told, std::chrono::milliseconds retry)
    : told_(std::move(told)), retry_(retry), thread_([this] { run(); }) {}

LabelQueue::~LabelQueue() {
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

int LabelQueue::add(LabelContent content, std::string port, LabelWhere where) {
    int id = 0;
    {
        std::lock_guard lock(mutex_);
        id = nextId_++;
        jobs_.push_back({id, std::move(content), std::move(port), std::move(where), std::chrono::system_clock::now()});
    }
    wake_.notify_all();
    return id;
}

void LabelQueue::retryNow() {
    {
        std::lock_guard lock(mutex_);
        retryNow_ = true;
    }
    wake_.notify_all();
}

std::size_t LabelQueue::waiting() const {
    std::lock_guard lock(mutex_);
    return jobs_.size();
}

void LabelQueue::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return ending_ || !jobs_.empty(); });
        if (ending_) return;
        const Job job = jobs_.front();
        lock.unlock();
        const std::string failed = MakeLabel(job.content, job.port, job.where, job.when);
        told_(job.id, failed);
        lock.lock();
        if (failed.empty()) {
            jobs_.pop_front();
            continue;
        }
        // The printer's trouble lasts a while: looked at again after a pause, or at once when
        // asked (a label printed again from the records, a printer chosen anew).
        retryNow_ = false;
        wake_.wait_for(lock, retry_, [this] { return ending_ || retryNow_; });
    }
}

} // namespace tk7v::labels
