// A programming station: ports that come and go, each with one device after another, and the
// state of every port as the front ends show it.
#include "device_run.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

namespace tk7v::station {

RunEnd UnusableRun() {
    RunEnd run;
    run.unusable = true;
    run.status = kDeviceFailed;
    return run;
}

bool LedgerUnusable(const std::vector<std::string>& ports, const PortJob::Options& options,
                    Listener& listener, StopSignal& stop, const ReportTo& to) {
    Ledger* ledger = to.ledgerOf();
    if (!ledger || (!to.numbering && !ledger->keepsRecords())) return false;
    LockWait wait;
    wait.stopped = [&stop] { return stop.requested(); };
    wait.limit = options.timeout;
    std::string why;
    if (ledger->ready(why, wait)) return false;
    // As a port that cannot be opened: nothing is begun, and every port says why.
    for (std::size_t i = 0; i < ports.size(); ++i)
        listener.ended(static_cast<int>(i), {DeviceEnd(why, kDeviceFailed, false, true), {}, {}, true});
    return true;
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
      shared_(std::make_unique<RunShared>(reportTo)) {
    // A device pulled out mid-exchange must not keep its port from the next one for the time-out.
    options_.atWirePace = true;
    if (shared_->to.numbering && shared_->to.ledgerOf()) watcher_ = std::thread([this] { watchLedger(); });
}

template <class Change> void Station::Keeper::change(int port, Change how) {
    if (port < 0) return;
    std::lock_guard lock(mutex_);
    if (static_cast<std::size_t>(port) >= ports_.size()) ports_.resize(static_cast<std::size_t>(port) + 1);
    how(ports_[static_cast<std::size_t>(port)]);
}

void Station::Keeper::state(int port, PortState state, const std::string& text) {
    std::string down;
    change(port, [&](PortStatus& p) {
        // An exchange's own texts are for people; the port's state is its phase's.
        if (state == PortState::Working) return;
        p.state = state;
        p.why = text;
        // Waiting for the ledger is part of a device's work; anything else ends it.
        if (state != PortState::LedgerBusy && state != PortState::LedgerUnavailable) p.working = false;
        down = ledgerDown_;
    });
    // A port that begins to wait while the ledger's server is known out of reach waits for both.
    if (state == PortState::AwaitingDevice && !down.empty())
        to_.state(port, PortState::LedgerUnavailable, down);
    else
        to_.state(port, state, text);
}

void Station::Keeper::ledger(const std::string& why) {
    std::lock_guard lock(mutex_);
    if (why == ledgerDown_) return;
    ledgerDown_ = why;
    // Told under the lock, so that a port's own next state cannot come before it.
    for (std::size_t i = 0; i < ports_.size(); ++i)
        if (ports_[i].state == PortState::AwaitingDevice && !ports_[i].working)
            to_.state(static_cast<int>(i),
                      why.empty() ? PortState::AwaitingDevice : PortState::LedgerUnavailable, why);
}

void Station::Keeper::phase(int port, Phase phase) {
    change(port, [&](PortStatus& p) {
        if (phase == Phase::Connecting) p.last.reset(); // the next device begins
        p.state = PortState::Working;
        p.working = true;
        p.phase = phase;
        p.percent = -1;
        p.why.clear();
    });
    to_.phase(port, phase);
}

void Station::Keeper::share(int port, int percent) {
    change(port, [&](PortStatus& p) { p.percent = percent; });
    to_.share(port, percent);
}

void Station::Keeper::ended(int port, const DeviceEnded& ended) {
    change(port, [&](PortStatus& p) {
        p.working = false;
        p.last = ended;
    });
    to_.ended(port, ended);
}

PortStatus Station::Keeper::status(int port) const {
    std::lock_guard lock(mutex_);
    PortStatus s = port >= 0 && static_cast<std::size_t>(port) < ports_.size()
                       ? ports_[static_cast<std::size_t>(port)]
                       : PortStatus{};
    if (s.state == PortState::AwaitingDevice && !s.working && !ledgerDown_.empty()) {
        s.state = PortState::LedgerUnavailable;
        s.why = ledgerDown_;
    }
    return s;
}

int Station::Keeper::working() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(
        std::count_if(ports_.begin(), ports_.end(), [](const PortStatus& p) { return p.working; }));
}

PortStatus Station::status(int index) const {
    return listener_.status(index);
}

int Station::working() const {
    return listener_.working();
}

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
    stopped_ = true;
    watchEnds_.set();
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
    watchEnds_.set();
    if (watcher_.joinable()) watcher_.join();
    RunEnd run;
    {
        std::lock_guard lock(shared_->mutex);
        run.stopped = stopping_;
    }
    shared_->closeReport(run.stopped, [this] { return stopped_.load(); });
    const bool lost = !shared_->reportError.empty() || !shared_->ledgerError.empty();
    run.done = done_;
    run.failed = failed_;
    run.status = failed_ > 0 ? kDeviceFailed : unrecorded_ > 0 && lost ? kFileFailed : kDone;
    run.reportError = shared_->reportError;
    run.ledgerError = shared_->ledgerError;
    return run;
}

bool Station::awaitRecords(Port& port) {
    Report* report = shared_->to.report;
    Ledger* ledger = shared_->to.ledger;
    if (!shared_->to.holdWhileKept || (!report && !ledger)) return true;
    bool said = false;
    LockWait wait;
    wait.stopped = [&port] { return port.leave.isSet(); };
    while (shared_->pendingRecords() > 0) {
        std::string failed = report ? report->flush(wait) : std::string();
        if (failed.empty() && ledger) failed = ledger->flushRecords(wait);
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

bool Station::awaitLedger(Port& port) {
    Ledger* ledger = shared_->to.ledgerOf();
    if (!shared_->to.numbering || !ledger) return true;
    LockWait wait;
    wait.stopped = [&port] { return port.leave.isSet(); };
    wait.limit = options_.timeout;
    wait.unreachable = [&](const std::string& why) {
        listener_.state(port.job->index(), PortState::LedgerUnavailable, why);
    };
    std::string why;
    while (!ledger->ready(why, wait)) {
        listener_.state(port.job->index(), PortState::LedgerUnavailable, why);
        if (port.leave.wait(kRecordsRetry)) return false;
    }
    return !port.leave.isSet();
}

void Station::watchLedger() {
    Ledger* ledger = shared_->to.ledgerOf();
    while (!watchEnds_.wait(kLedgerLook)) {
        LockWait wait;
        wait.stopped = [this] { return watchEnds_.isSet(); };
        wait.limit = options_.timeout;
        // A frozen server is told after the first second, not at the end of the time-out.
        wait.unreachable = [this](const std::string& why) { listener_.ledger(why); };
        std::string why;
        const bool reached = ledger->ready(why, wait);
        if (watchEnds_.isSet()) break;
        listener_.ledger(reached ? std::string() : why);
    }
}

void Station::loop(Port& port) {
    PortJob& job = *port.job;
    const int index = job.index();
    RunShared& shared = *shared_;
    for (;;) {
        if (shared.numberingOver() || !awaitRecords(port) || !awaitLedger(port)) break;
        listener_.state(index, PortState::AwaitingDevice, {});
        // A device found just as the numbering ran out is left as it came. One that answers while
        // the ledger's server is out of reach is not begun until it is back: what it holds is
        // known only by what the ledger gave.
        if (job.awaitDevice() != PortJob::Result::Done || shared.numberingOver() || !awaitLedger(port)) break;
        bool untouched = false;
        const bool recognise = shared.to.recognise && !job.arrivedClearly();
        const DeviceEnded ended = RunOne(job, work_, report_, shared, listener_, &untouched, recognise);
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
    if (LedgerUnusable(ports, options, listener, stop, reportTo)) return UnusableRun();
    // A port the station cannot open at all (no such port, one this user may not open) ends the
    // run before it begins, as it would end a single exchange: waiting on it would wait for ever.
    bool unusable = false;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        PortJob job(ports[i], options, listener, static_cast<int>(i));
        if (job.tryOpen() == PortJob::Result::Done) continue;
        unusable = true;
        listener.ended(job.index(), {FailedEnd(job, PortJob::Result::Failed, false), {}, {}, true});
    }
    if (unusable) return UnusableRun();
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
