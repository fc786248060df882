#pragma once
// One device's part of a run, shared by a batch and a station: what the ports of one run share,
// and the pipeline a device goes through (its work, the claim of its row and number, its end in
// words, its record).
#include "run.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace tk7v::station {

// What the ports of one run share: where records go, and whether the numbering has run out.
struct RunShared {
    explicit RunShared(const ReportTo& to) : to(to) {}

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
    // Records the report and a server's ledger keep, not yet stored.
    std::size_t pendingRecords() const {
        return (to.report ? to.report->pending() : 0) + (to.ledger ? to.ledger->pendingRecords() : 0);
    }
    // A last try at the records the report and a server's ledger keep, once the run is over; their
    // failures, when records are still kept. Whoever ends the run is waiting: a run that was
    // stopped gives it only as long as a server that answers takes, and a stop while a run ends by
    // itself ends the try at once. What is still kept stays with the session that opened the run.
    static constexpr std::chrono::milliseconds kClosingTry{2000};
    static constexpr std::chrono::milliseconds kClosingTryStopped{200};
    void closeReport(bool stopped, std::function<bool()> stopping = {}) {
        LockWait wait;
        wait.limit = stopped ? kClosingTryStopped : kClosingTry;
        wait.stopped = stopped ? nullptr : std::move(stopping);
        if (to.report) reportError = to.report->flush(wait);
        if (to.ledger && to.ledger->pendingRecords() > 0) ledgerError = to.ledger->flushRecords(wait);
    }
    std::string ledgerError;
};

// Whether the run's ledger, a server's, cannot be reached within the devices' time-out: then every
// port has ended with the reason, and the run is not to begin.
bool LedgerUnusable(const std::vector<std::string>& ports, const PortJob::Options& options,
                    Listener& listener, StopSignal& stop, const ReportTo& to);
// The end of a run that never began, as for a port that cannot be used.
RunEnd UnusableRun();

// Runs one device's work, words its end and records it; `recorded` says whether the record was
// written. `untouched` is set for a device a stop ended before anything was written to it, or
// one that answered just as the list or counter had nothing left for it: a station does not
// count it, and records it only when a row or number had been claimed for it (which it keeps,
// and the report then says why).
// With `recognise`, a device that already holds what it would get is left alone (Held).
DeviceEnded RunOne(PortJob& job, const DeviceWork& work, const DeviceReport& report, RunShared& shared,
                   Listener& listener, bool* untouched = nullptr, bool recognise = false);

} // namespace tk7v::station
