#pragma once
// Runs one job per port, all at once, one thread each: once (a batch) or again and again (a
// station). Each device's end goes to the listener and to the report the moment that device
// ends. A stop request ends the run the same way whatever asked for it: every exchange stops
// between two commands, each device is reset and its port closed.
#include "events.h"
#include "numbering.h"
#include "port_job.h"
#include "report.h"

#include "link/stop_signal.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tk7v::station {

// Where the devices' records go (no report: null) and the command they are of. With a numbering,
// each write claims its device's row and number in the ledger (the report when none is given;
// one of them must be) once the device has answered; when nothing is left to give, every port
// says so and takes no more.
struct ReportTo {
    Report* report = nullptr;
    std::string command;
    const Numbering* numbering = nullptr;
    // A station begins no further device while the report keeps records it could not write: it
    // tries them again every `kRecordsRetry`, and the ports say why they wait.
    bool holdWhileKept = false;
    Ledger* ledger = nullptr;
    // A station reads what a device that answered holds, unless it was seen to arrive on an
    // empty port, and leaves one that holds what it would be given (Held) alone.
    bool recognise = false;
    Ledger* ledgerOf() const { return ledger ? ledger : report; }
};

using DeviceWork = std::function<PortJob::Result(PortJob&)>;
// Runs on the device's own thread when its job has ended; words its end for the listener and
// the report.
using DeviceReport = std::function<DeviceEnd(PortJob&, PortJob::Result)>;

struct RunEnd {
    bool stopped = false;             // a stop request ended it
    int status = kDone;               // the worst Status of its devices
    int done = 0, failed = 0;         // a station's counts of devices
    std::vector<std::string> partial; // ports whose device may hold part of a block
    std::string reportError;          // the report's last failure, when a record was lost
    std::string ledgerError;          // why a server's ledger did not take records it still keeps
    bool unusable = false;            // a station that could not open a port, and so never began
};

// `stop` is requested by the front end (a signal, a button) and ends the run; the run itself
// requests it once it is over, to end its own watch on it.
RunEnd RunOnDevices(const std::vector<std::string>& ports, const PortJob::Options& options,
                    Listener& listener, StopSignal& stop, const DeviceWork& work, const DeviceReport& report,
                    const ReportTo& reportTo = {});

struct RunShared;

// A programming station whose ports come and go while it runs (an adapter plugged in, a port
// taken out of the run): on each port, again and again, wait until a device answers, run `work`
// and `report` on it, and wait until it is gone. Its calls may come from any thread; the events
// come on the ports' threads.
class Station {
public:
    static constexpr std::chrono::seconds kRecordsRetry{1};
    // How often a numbered station looks at its ledger's server while its ports only wait for
    // devices: a server gone or frozen shows on the waiting ports before a device comes.
    static constexpr std::chrono::seconds kLedgerLook{2};

    Station(const PortJob::Options& options, Listener& listener, DeviceWork work, DeviceReport report,
            const ReportTo& reportTo);
    ~Station(); // stop() and wait()
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // The port, named `index` in the events, takes part from now on; one taking part stays as it
    // is. Nothing happens once the station is stopping.
    void add(const std::string& port, int index);
    // The port takes no further device: a wait on it ends at once, a device in work is finished.
    void remove(int index);
    // Ends every exchange between two commands (each device reset, its port closed) and every wait.
    void stop();
    // Waits until every port's thread is over, once stop() was called or the list or counter ran
    // out; the counts of the devices.
    RunEnd wait();

    // Any thread: the port named `index` as it stands now (a port never added: waiting, nothing
    // done), and the devices done and failed so far. The station keeps these; front ends show
    // them and keep no port state of their own.
    PortStatus status(int index) const;
    int done() const { return done_; }
    int failed() const { return failed_; }
    // How many ports have a device's exchanges running.
    int working() const;

private:
    struct Port;
    // Keeps each port's status from the events, then passes them on to the front end's listener.
    class Keeper : public Listener {
    public:
        explicit Keeper(Listener& to) : to_(to) {}
        void state(int port, PortState state, const std::string& text) override;
        void phase(int port, Phase phase) override;
        void share(int port, int percent) override;
        void ended(int port, const DeviceEnded& ended) override;
        void records(std::size_t kept, const std::string& error) override { to_.records(kept, error); }
        PortStatus status(int port) const;
        int working() const;
        // The ledger's server as the station's look found it: `why` it cannot be reached, empty
        // once it can. A port that only waits for a device shows it as LedgerUnavailable.
        void ledger(const std::string& why);

    private:
        template <class Change> void change(int port, Change how);
        Listener& to_;
        mutable std::mutex mutex_;
        std::vector<PortStatus> ports_; // by index; under mutex_
        std::string ledgerDown_;        // under mutex_
    };
    void loop(Port& port);
    bool awaitRecords(Port& port); // false when the port is to end instead
    bool awaitLedger(Port& port);  // a server's ledger reached; false when the port is to end instead
    void watchLedger();            // the look at the ledger's server, on a thread of its own

    PortJob::Options options_;
    Keeper listener_;
    DeviceWork work_;
    DeviceReport report_;
    std::unique_ptr<RunShared> shared_;
    std::vector<std::unique_ptr<Port>> ports_; // under shared_->mutex; never shrinks
    bool stopping_ = false;                    // under shared_->mutex
    std::atomic<bool> stopped_{false};         // stop() was called: read without the mutex
    std::atomic<int> done_{0}, failed_{0}, unrecorded_{0};
    ManualResetEvent watchEnds_; // stop(), or every port over
    std::thread watcher_;
};

// A programming station: on every port at once, again and again, wait until a device answers,
// run `work` and `report` on it, and wait until it is gone, until `stop` is requested.
RunEnd RunStation(const std::vector<std::string>& ports, const PortJob::Options& options, Listener& listener,
                  StopSignal& stop, const DeviceWork& work, const DeviceReport& report,
                  const ReportTo& reportTo);

// The result words of a job that did not end as it should: "прервано", "не отвечает", the
// error, and the note on part of a block where a write was cut short.
DeviceEnd FailedEnd(const PortJob& job, PortJob::Result result, bool mayHoldPart);

// How a write ended, in words: "записано и проверено" (or "записано" without `verify`), the count
// of fields read back that differ, or why it failed; with `file`, the configuration, and the
// bytes once any were written.
DeviceEnd WriteEnd(const PortJob& job, PortJob::Result result, bool verify, const std::string& file);

} // namespace tk7v::station
