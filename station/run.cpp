#include "run.h"

#include "sha256.h"

#include "model/field_rules.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

namespace tk7v::station {

// What the ports of one run share: where records go, and whether the numbering has run out.
struct RunShared {
    ReportTo to;                // a copy: the caller's may be gone before the station is
    std::vector<PortJob*> jobs; // under mutex
    std::mutex mutex;
    bool runOut = false;
    std::string runOutOf; // the counter's field; empty for the list
    std::string reportError;

    void endNumbering(const std::string& what) {
        std::lock_guard lock(mutex);
        if (runOut) return;
        runOut = true;
        runOutOf = what;
        for (PortJob* j : jobs)
            j->endWaits();
    }
    bool numberingOver() {
        std::lock_guard lock(mutex);
        return runOut;
    }
    // The report's failure once the run is over: records it still keeps are lost with the run.
    void closeReport() {
        if (!to.report) return;
        // Not for long: the run is over, and whoever ends it (a closing window, a signal) is
        // waiting.
        LockWait wait;
        wait.limit = std::chrono::seconds(2);
        reportError = to.report->flush(wait);
    }
};

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
    case PortJob::Result::Held:
        return "held";
    case PortJob::Result::Failed:
        break;
    }
    return job.verifyFailed() ? "differs" : "error";
}

std::string runOutText(const std::string& of) {
    return (of.empty() ? std::string("строки списка кончились") : "номера " + of + " кончились") +
           ", устройство не записано";
}

// Runs one device's work, words its end and records it; `recorded` says whether the record was
// written. `untouched` is set for a device a stop ended before anything was written to it, or
// one that answered just as the list or counter had nothing left for it: a station does not
// count it, and records it only when a row or number had been claimed for it (which it keeps,
// and the report then says why).
// A wait for the ledger's or the report's lock on this port: a stop ends it at once, and the
// port says so once it lasts.
LockWait lockWaitOf(PortJob& job, Listener& listener, const std::string& file) {
    LockWait wait;
    wait.pause = [&job](std::chrono::milliseconds ms) { return job.pause(ms); };
    wait.busy = [&job, &listener, file](bool busy) {
        if (busy) listener.state(job.index(), PortState::LedgerBusy, file);
    };
    return wait;
}

DeviceEnded runOne(PortJob& job, const DeviceWork& work, const DeviceReport& report, RunShared& shared,
                   Listener& listener, bool* untouched = nullptr, bool recognise = false) {
    const ReportTo& to = shared.to;
    const auto start = std::chrono::system_clock::now();
    Given given;
    bool ranOut = false; // nothing was left for it: the device is left as it came
    Ledger* ledger = to.ledgerOf();
    if (to.numbering && ledger) {
        job.beforeWrite([&](ParameterImage& image) -> std::string {
            ReportRecord claim;
            claim.port = job.port();
            claim.identification = job.identification();
            claim.command = to.command;
            claim.start = start;
            claim.end = std::chrono::system_clock::now();
            const Numbering::Claim c =
                to.numbering->claim(*ledger, claim, image, lockWaitOf(job, listener, ledger->name()));
            switch (c.outcome) {
            case Numbering::Claim::Outcome::Given:
                given = c.given;
                if (c.last) shared.endNumbering(c.runOut);
                return {};
            case Numbering::Claim::Outcome::RunOut:
                ranOut = true;
                shared.endNumbering(c.runOut);
                return runOutText(c.runOut);
            case Numbering::Claim::Outcome::Failed:
                break;
            }
            return c.error;
        });
    }
    if (recognise) {
        job.recognise([&](const ParameterImage& device, const ParameterImage& image) {
            if (!to.numbering) return DiffFields(device, image).empty();
            // Numbers count only as the ledger holds them given: one it cannot read leaves the
            // device to the claim, which then fails as well.
            Taken taken;
            std::string error;
            return ledger && ledger->taken(taken, error, lockWaitOf(job, listener, ledger->name())) &&
                   to.numbering->holds(device, image, taken);
        });
    }
    const PortJob::Result r = work(job);
    job.beforeWrite({}); // they hold this device's locals
    job.recognise({});
    DeviceEnded ended{report(job, r), job.identification(), given, true};
    ended.held = r == PortJob::Result::Held;
    DeviceEnd& end = ended.end;
    if (untouched) *untouched = (r == PortJob::Result::Interrupted && !job.wroteSomething()) || ranOut;
    if (ended.held || !to.report || (untouched && *untouched && !given.any())) return ended;
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
    const bool wereKept = to.report->pending() > 0;
    if (const std::string failed = to.report->add(record, lockWaitOf(job, listener, to.report->name()));
        !failed.empty()) {
        ended.recorded = false;
        listener.records(to.report->pending(), failed);
    } else if (wereKept) {
        listener.records(0, {});
    }
    return ended;
}

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

DeviceEnd FailedEnd(const PortJob& job, PortJob::Result result, bool mayHoldPart) {
    DeviceEnd end{{}, kDeviceFailed, mayHoldPart, true};
    switch (result) {
    case PortJob::Result::Done:
    case PortJob::Result::Held:
        end.status = kDone;
        end.error = false;
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

DeviceEnd WriteEnd(const PortJob& job, PortJob::Result result, bool verify, const std::string& file) {
    DeviceEnd end;
    if (result == PortJob::Result::Done) {
        end = {verify ? "записано и проверено" : "записано", kDone, false};
    } else if (result == PortJob::Result::Held) {
        end = {"уже записано, не тронуто", kDone, false};
    } else if (job.verifyFailed()) {
        for (const Difference& d : DiffFields(job.block(), job.written()))
            end.differing.push_back(d.name);
        end.text =
            "записано, но проверка не пройдена, различается полей: " + std::to_string(end.differing.size());
        end.status = kDeviceFailed;
        end.error = true;
    } else {
        // A write cut short, by a stop or a fault, may have left part of the block.
        end = FailedEnd(job, result, job.wroteSomething());
    }
    end.file = file;
    if (job.wroteSomething()) end.bytes = job.written();
    return end;
}

RunEnd RunOnDevices(const std::vector<std::string>& ports, const PortJob::Options& options,
                    Listener& listener, StopSignal& stop, const DeviceWork& work, const DeviceReport& report,
                    const ReportTo& reportTo) {
    std::vector<DeviceEnded> ends(ports.size());
    RunShared shared{reportTo, {}, {}, false, {}, {}};
    RunEnd run;
    run.stopped = RunJobs(ports, options, listener, stop, shared, [&](PortJob& job) {
        DeviceEnded& ended = ends[static_cast<std::size_t>(job.index())];
        ended = runOne(job, work, report, shared, listener);
        listener.ended(job.index(), ended);
    });
    shared.closeReport();
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const DeviceEnd& e = ends[i].end;
        const bool lost = !ends[i].recorded && !shared.reportError.empty();
        const int status = e.status == kDone && lost ? int(kFileFailed) : e.status;
        if (e.partBlock) run.partial.push_back(ports[i]);
        if (status == kDeviceFailed || (status == kFileFailed && run.status == kDone)) run.status = status;
    }
    run.reportError = shared.reportError;
    return run;
}

struct Station::Port {
    std::unique_ptr<PortJob> job;
    std::thread thread;
    ManualResetEvent leave; // remove() or stop(): wakes a wait for the report
    std::atomic<bool> over{false};
};

Station::Station(const PortJob::Options& options, Listener& listener, DeviceWork work, DeviceReport report,
                 const ReportTo& reportTo)
    : options_(options), listener_(listener), work_(std::move(work)), report_(std::move(report)),
      shared_(std::make_unique<RunShared>(reportTo)) {}

Station::~Station() {
    stop();
    wait();
}

void Station::add(const std::string& port, int index) {
    std::lock_guard lock(shared_->mutex);
    if (stopping_) return;
    for (const auto& p : ports_)
        if (p->job->index() == index && !p->over && !p->leave.isSet()) return;
    // A port taken out and put back gets a job of its own; the old one's thread may still be
    // finishing its device, and the old job lives on with the station.
    auto p = std::make_unique<Port>();
    p->job = std::make_unique<PortJob>(port, options_, listener_, index);
    shared_->jobs.push_back(p->job.get());
    if (shared_->runOut) p->job->endWaits();
    Port& at = *p;
    ports_.push_back(std::move(p));
    at.thread = std::thread([this, &at] {
        loop(at);
        at.over = true;
    });
}

void Station::remove(int index) {
    std::lock_guard lock(shared_->mutex);
    for (const auto& p : ports_)
        if (p->job->index() == index) {
            p->leave.set();
            p->job->endWaits();
        }
}

void Station::stop() {
    std::lock_guard lock(shared_->mutex);
    stopping_ = true;
    for (const auto& p : ports_) {
        p->leave.set();
        p->job->interrupt();
    }
}

RunEnd Station::wait() {
    for (;;) {
        std::thread* next = nullptr;
        {
            std::lock_guard lock(shared_->mutex);
            for (const auto& p : ports_)
                if (p->thread.joinable()) next = &p->thread;
        }
        if (!next) break;
        next->join();
    }
    shared_->closeReport();
    RunEnd run;
    {
        std::lock_guard lock(shared_->mutex);
        run.stopped = stopping_;
    }
    run.done = done_;
    run.failed = failed_;
    run.status = failed_ > 0                                        ? kDeviceFailed
                 : unrecorded_ > 0 && !shared_->reportError.empty() ? kFileFailed
                                                                    : kDone;
    run.reportError = shared_->reportError;
    return run;
}

bool Station::awaitRecords(Port& port) {
    Report* report = shared_->to.report;
    if (!shared_->to.holdWhileKept || !report) return true;
    bool said = false;
    LockWait wait;
    wait.pause = [&port](std::chrono::milliseconds ms) { return port.leave.wait(ms); };
    while (report->pending() > 0) {
        const std::string failed = report->flush(wait);
        if (failed.empty()) {
            listener_.records(0, {});
            break;
        }
        if (!said) listener_.state(port.job->index(), PortState::RecordsKept, failed);
        said = true;
        if (port.leave.wait(kRecordsRetry)) return false;
    }
    return !port.leave.isSet();
}

void Station::loop(Port& port) {
    PortJob& job = *port.job;
    const int index = job.index();
    RunShared& shared = *shared_;
    for (;;) {
        if (shared.numberingOver() || !awaitRecords(port)) break;
        listener_.state(index, PortState::AwaitingDevice, {});
        // A device found just as the numbering ran out is left as it came.
        if (job.awaitDevice() != PortJob::Result::Done || shared.numberingOver()) break;
        bool untouched = false;
        const bool recognise = shared.to.recognise && !job.arrivedClearly();
        const DeviceEnded ended = runOne(job, work_, report_, shared, listener_, &untouched, recognise);
        if (untouched && !ended.held) {
            if (ended.given.any()) listener_.ended(index, ended);
            break;
        }
        // A device counts by what became of it, whether or not its record could be written;
        // one cut short by the stop that ends the station counts as failed: it may hold part
        // of a block. One that held its configuration already was counted when it got it.
        if (!ended.held) ++(ended.end.status == kDone ? done_ : failed_);
        if (!ended.recorded) ++unrecorded_;
        listener_.ended(index, ended);
        if (shared.numberingOver()) break;
        listener_.state(index, PortState::AwaitingRemoval, {});
        if (job.awaitGone() != PortJob::Result::Done) break;
    }
    if (shared.numberingOver() && !port.leave.isSet()) {
        std::lock_guard lock(shared.mutex);
        listener_.state(index, PortState::RunOut, shared.runOutOf);
    }
}

RunEnd RunStation(const std::vector<std::string>& ports, const PortJob::Options& options, Listener& listener,
                  StopSignal& stop, const DeviceWork& work, const DeviceReport& report,
                  const ReportTo& reportTo) {
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
        RunEnd run;
        run.unusable = true;
        run.status = kDeviceFailed;
        return run;
    }
    Station station(options, listener, work, report, reportTo);
    for (std::size_t i = 0; i < ports.size(); ++i)
        station.add(ports[i], static_cast<int>(i));
    std::atomic<bool> finished{false};
    std::thread watcher([&] {
        while (!stop.waitFor(std::chrono::hours(24))) {
        }
        if (!finished) station.stop();
    });
    RunEnd run = station.wait();
    run.stopped = stop.requested();
    finished = true;
    stop.request();
    watcher.join();
    return run;
}

} // namespace tk7v::station
