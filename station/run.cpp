#include "run.h"

#include "sha256.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
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

// What the ports of one run share: where records go, and whether the numbering has run out.
struct Shared {
    const ReportTo& to;
    std::vector<std::unique_ptr<PortJob>> jobs;
    std::mutex mutex;
    bool runOut = false;
    std::string runOutOf; // the counter's field; empty for the list
    std::string reportError;

    void endNumbering(const std::string& what) {
        std::lock_guard lock(mutex);
        if (runOut) return;
        runOut = true;
        runOutOf = what;
        for (auto& j : jobs)
            j->endWaits();
    }
    bool numberingOver() {
        std::lock_guard lock(mutex);
        return runOut;
    }
};

std::string runOutText(const std::string& of) {
    return (of.empty() ? std::string("строки списка кончились") : "номера " + of + " кончились") +
           ", устройство не записано";
}

// Runs one device's work, words its end and records it; `recorded` says whether the record was
// written. `untouched` is set for a device a stop ended before anything was written to it: a
// station does not count it, and records it only when a row or number had been claimed for it
// (which it keeps, and the report then says why).
DeviceEnded runOne(PortJob& job, const DeviceWork& work, const DeviceReport& report, Shared& shared,
                   bool* untouched = nullptr) {
    const ReportTo& to = shared.to;
    const auto start = std::chrono::system_clock::now();
    Given given;
    if (to.numbering && to.report) {
        job.beforeWrite([&](ParameterImage& image) -> std::string {
            ReportRecord claim;
            claim.port = job.port();
            claim.identification = job.identification();
            claim.command = to.command;
            claim.start = start;
            claim.end = std::chrono::system_clock::now();
            const Numbering::Claim c = to.numbering->claim(*to.report, claim, image);
            switch (c.outcome) {
            case Numbering::Claim::Outcome::Given:
                given = c.given;
                if (c.last) shared.endNumbering(c.runOut);
                return {};
            case Numbering::Claim::Outcome::RunOut:
                shared.endNumbering(c.runOut);
                return runOutText(c.runOut);
            case Numbering::Claim::Outcome::Failed:
                break;
            }
            return c.error;
        });
    }
    const PortJob::Result r = work(job);
    job.beforeWrite({}); // it holds this device's locals
    DeviceEnded ended{report(job, r), job.identification(), given, true};
    DeviceEnd& end = ended.end;
    if (untouched) *untouched = r == PortJob::Result::Interrupted && !job.wroteSomething();
    if (!to.report || (untouched && *untouched && !given.any())) return ended;
    ReportRecord record{job.port(),
                        job.identification(),
                        to.command,
                        end.file,
                        {},
                        start,
                        std::chrono::system_clock::now(),
                        outcomeOf(job, r),
                        r == PortJob::Result::Done ? std::string() : end.text,
                        end.differing,
                        given};
    if (end.bytes) record.sha256 = Sha256Hex(*end.bytes);
    if (const std::string failed = to.report->add(record); !failed.empty()) {
        ended.recorded = false;
        std::lock_guard lock(shared.mutex);
        shared.reportError = failed;
    }
    return ended;
}

// Opens a job on every port and runs `each` on every job at once, one thread per port, while a
// stop request interrupts every job. True when the stop came before the jobs were over.
bool RunJobs(const std::vector<std::string>& ports, const PortJob::Options& options, Listener& listener,
             StopSignal& stop, Shared& shared, const std::function<void(PortJob&)>& each) {
    auto& jobs = shared.jobs;
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
    Shared shared{reportTo, {}, {}, false, {}, {}};
    RunEnd run;
    run.stopped = RunJobs(ports, options, listener, stop, shared, [&](PortJob& job) {
        DeviceEnded& ended = ends[static_cast<std::size_t>(job.index())];
        ended = runOne(job, work, report, shared);
        listener.ended(job.index(), ended);
    });
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const DeviceEnd& e = ends[i].end;
        const int status = e.status == kDone && !ends[i].recorded ? int(kFileFailed) : e.status;
        if (e.partBlock) run.partial.push_back(ports[i]);
        if (status == kDeviceFailed || (status == kFileFailed && run.status == kDone)) run.status = status;
    }
    run.reportError = shared.reportError;
    return run;
}

RunEnd RunStation(const std::vector<std::string>& ports, const PortJob::Options& options, Listener& listener,
                  StopSignal& stop, const DeviceWork& work, const DeviceReport& report,
                  const ReportTo& reportTo) {
    std::atomic<int> done{0}, failed{0}, unrecorded{0};
    Shared shared{reportTo, {}, {}, false, {}, {}};
    RunEnd run;
    // A port the station cannot open at all (no such port, one this user may not open) ends the
    // run before it begins, as it would end a single exchange: waiting on it would wait for ever.
    bool unusable = false;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        PortJob job(ports[i], options, listener, static_cast<int>(i));
        if (job.tryOpen() == PortJob::Result::Done) continue;
        unusable = true;
        listener.ended(job.index(), {FailedEnd(job, PortJob::Result::Failed, false), {}, {}, true});
    }
    if (unusable) {
        run.unusable = true;
        run.status = kDeviceFailed;
        return run;
    }
    run.stopped = RunJobs(ports, options, listener, stop, shared, [&](PortJob& job) {
        const int port = job.index();
        for (;;) {
            if (shared.numberingOver()) break;
            listener.state(port, PortState::AwaitingDevice, {});
            // A device found just as the numbering ran out is left as it came.
            if (job.awaitDevice() != PortJob::Result::Done || shared.numberingOver()) break;
            bool untouched = false;
            const DeviceEnded ended = runOne(job, work, report, shared, &untouched);
            if (untouched) {
                if (ended.given.any()) listener.ended(port, ended);
                break;
            }
            // A device counts by what became of it, whether or not its record could be written;
            // one cut short by the stop that ends the station counts as failed: it may hold part
            // of a block.
            ++(ended.end.status == kDone ? done : failed);
            if (!ended.recorded) ++unrecorded;
            listener.ended(port, ended);
            if (shared.numberingOver()) break;
            listener.state(port, PortState::AwaitingRemoval, {});
            if (job.awaitGone() != PortJob::Result::Done) break;
        }
        if (shared.numberingOver() && !stop.requested()) {
            std::lock_guard lock(shared.mutex);
            listener.state(port, PortState::RunOut, shared.runOutOf);
        }
    });
    run.done = done;
    run.failed = failed;
    run.status = failed > 0 ? kDeviceFailed : unrecorded > 0 ? kFileFailed : kDone;
    run.reportError = shared.reportError;
    return run;
}

} // namespace tk7v::station
