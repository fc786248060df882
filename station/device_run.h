#pragma once
// One device's part of a run, shared by a batch and a station: what the ports of one run share,
// and the pipeline a device goes through (its work, the claim of its row and number, its end in
// words, its record).
#include "run.h"

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

// Runs one device's work, words its end and records it; `recorded` says whether the record was
// written. `untouched` is set for a device a stop ended before anything was written to it, or
// one that answered just as the list or counter had nothing left for it: a station does not
// count it, and records it only when a row or number had been claimed for it (which it keeps,
// and the report then says why).
// With `recognise`, a device that already holds what it would get is left alone (Held).
DeviceEnded RunOne(PortJob& job, const DeviceWork& work, const DeviceReport& report, RunShared& shared,
                   Listener& listener, bool* untouched = nullptr, bool recognise = false);

} // namespace tk7v::station
