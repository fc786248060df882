#include "run.h"

#include "sha256.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace tk7v::station {

namespace {

// The report's word for how a device ended.
std::string outcomeOf(const PortJob& job, PortJob::Result r) {
    switch (r) {
    case PortJob::Result::Done:
        return "done";
    case PortJob::Result::Interrupted:
        return "interrupted";
    case PortJob::Result::NoAnswer:
        return "no answer";
    case PortJob::Result::Failed:
        break;
    }
    return job.verifyFailed() ? "differs" : "error";
}

// Runs one device's work, words its end and records it; a record that could not be written makes
// the device's status a file failure.
DeviceEnded runOne(PortJob& job, const DeviceWork& work, const DeviceReport& report, const ReportTo& to) {
    const auto start = std::chrono::system_clock::now();
    const PortJob::Result r = work(job);
    DeviceEnded ended{report(job, r), job.identification(), {}, true};
    DeviceEnd& end = ended.end;
    if (!to.report) return ended;
    ReportRecord record{job.port(),
                        job.identification(),
                        to.command,
                        end.file,
                        {},
                        start,
                        std::chrono::system_clock::now(),
                        outcomeOf(job, r),
                        r == PortJob::Result::Done ? std::string() : end.text,
                        end.differing};
    if (end.bytes) record.sha256 = Sha256Hex(*end.bytes);
    if (!to.report->add(record)) {
        ended.recorded = false;
        if (end.status == kDone) end.status = kFileFailed;
    }
    return ended;
}

// Opens a job on every port and runs `each` on every job at once, one thread per port, while a
// stop request interrupts every job. True when the stop came before the jobs were over.
bool RunJobs(const std::vector<std::string>& ports, const PortJob::Options& options, Listener& listener,
             StopSignal& stop, const std::function<void(PortJob&)>& each) {
    std::vector<std::unique_ptr<PortJob>> jobs;
    for (std::size_t i = 0; i < ports.size(); ++i)
        jobs.push_back(std::make_unique<PortJob>(ports[i], options, listener, static_cast<int>(i)));

    std::atomic<bool> finished{false};
    std::thread watcher([&] {
        while (!stop.waitFor(std::chrono::hours(24))) {
        }
        if (finished) return;
        for (auto& j : jobs)
            j->interrupt();
    });
    std::vector<std::thread> threads;
    for (auto& job : jobs)
        threads.emplace_back([&each, &job] { each(*job); });
    for (auto& t : threads)
        t.join();
    const bool stopped = stop.requested();
    finished = true;
    stop.request();
    watcher.join();
    return stopped;
}

} // namespace

DeviceEnd FailedEnd(const PortJob& job, PortJob::Result result, bool mayHoldPart) {
    DeviceEnd end{{}, kDeviceFailed, mayHoldPart, true};
    switch (result) {
    case PortJob::Result::Done:
        end.status = kDone;
        break;
    case PortJob::Result::Interrupted:
        end.text = "прервано";
        break;
    case PortJob::Result::NoAnswer: // "не отвечает (the step)"
    case PortJob::Result::Failed: {
        // The system's sentences end with a full stop; the note on the block follows after it.
        std::string error = job.error();
        while (!error.empty() && (error.back() == '.' || error.back() == ' ' || error.back() == '\n'))
            error.pop_back();
        end.text = result == PortJob::Result::NoAnswer ? error : "ошибка: " + error;
        break;
    }
    }
    if (mayHoldPart) end.text += "; устройство может хранить часть блока";
    return end;
}

RunEnd RunOnDevices(const std::vector<std::string>& ports, const PortJob::Options& options,
                    Listener& listener, StopSignal& stop, const DeviceWork& work, const DeviceReport& report,
                    const ReportTo& reportTo) {
    std::vector<DeviceEnded> ends(ports.size());
    RunEnd run;
    run.stopped = RunJobs(ports, options, listener, stop, [&](PortJob& job) {
        DeviceEnded& ended = ends[static_cast<std::size_t>(job.index())];
        ended = runOne(job, work, report, reportTo);
        listener.ended(job.index(), ended);
    });
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const DeviceEnd& e = ends[i].end;
        if (e.partBlock) run.partial.push_back(ports[i]);
        if (e.status == kDeviceFailed || (e.status == kFileFailed && run.status == kDone))
            run.status = e.status;
    }
    return run;
}

RunEnd RunStation(const std::vector<std::string>& ports, const PortJob::Options& options, Listener& listener,
                  StopSignal& stop, const DeviceWork& work, const DeviceReport& report,
                  const ReportTo& reportTo) {
    std::atomic<int> done{0}, failed{0};
    RunEnd run;
    run.stopped = RunJobs(ports, options, listener, stop, [&](PortJob& job) {
        for (;;) {
            listener.state(job.index(), PortState::AwaitingDevice, {});
            if (job.awaitDevice() != PortJob::Result::Done) return;
            const DeviceEnded ended = runOne(job, work, report, reportTo);
            // A device cut short by the stop that ends the station is counted as failed: it may
            // hold part of a block.
            ++(ended.end.status == kDone ? done : failed);
            listener.ended(job.index(), ended);
            listener.state(job.index(), PortState::AwaitingRemoval, {});
            if (job.awaitGone() != PortJob::Result::Done) return;
        }
    });
    run.done = done;
    run.failed = failed;
    run.status = failed > 0 ? kDeviceFailed : kDone;
    return run;
}

} // namespace tk7v::station
