// A batch: one device per port, all at once, each ending with its record and its words.
#include "device_run.h"

#include <atomic>
#include <memory>
#include <thread>

namespace tk7v::station {

namespace {

// Opens a job on every port and runs `each` on every job at once, one thread per port, while a
// stop request interrupts every job. True when the stop came before the jobs were over.
bool RunJobs(const std::vector<std::string>& ports, const PortJob::Options& options, Listener& listener,
             StopSignal& stop, RunShared& shared, const std::function<void(PortJob&)>& each) {
    std::vector<std::unique_ptr<PortJob>> jobs;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        jobs.push_back(std::make_unique<PortJob>(ports[i], options, listener, static_cast<int>(i)));
        shared.jobs.push_back(jobs.back().get());
    }

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

RunEnd RunOnDevices(const std::vector<std::string>& ports, const PortJob::Options& options,
                    Listener& listener, StopSignal& stop, const DeviceWork& work, const DeviceReport& report,
                    const ReportTo& reportTo) {
    if (LedgerUnusable(ports, options, listener, stop, reportTo)) return UnusableRun();
    std::vector<DeviceEnded> ends(ports.size());
    RunShared shared(reportTo);
    RunEnd run;
    run.stopped = RunJobs(ports, options, listener, stop, shared, [&](PortJob& job) {
        DeviceEnded& ended = ends[static_cast<std::size_t>(job.index())];
        ended = RunOne(job, work, report, shared, listener);
        listener.ended(job.index(), ended);
    });
    shared.closeReport(run.stopped);
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const DeviceEnd& e = ends[i].end;
        const bool lost = !ends[i].recorded && !(shared.reportError.empty() && shared.ledgerError.empty());
        const int status = e.status == kDone && lost ? int(kFileFailed) : e.status;
        if (e.partBlock) run.partial.push_back(ports[i]);
        if (status == kDeviceFailed || (status == kFileFailed && run.status == kDone)) run.status = status;
    }
    run.reportError = shared.reportError;
    run.ledgerError = shared.ledgerError;
    return run;
}

} // namespace tk7v::station
