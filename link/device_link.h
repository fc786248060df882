#pragma once
// One link to a device: the open port, the transfer worker, its done event and the operation it
// runs. Open, identify, read, write, abort and close are separate calls; the exchanges report to
// the host (texts, progress, errors, the block) through its hand-offs. The window and the
// command line both drive a link.
//
// Threads: every call comes from one thread, the owner's (the window thread), but
// requestStop(). The workers run one after another on the link's worker thread, which the link
// joins when it goes, and reach the owner only through the host; or, with runHere(), on the
// owner's thread itself, whose hand-offs then run there.
#include "link/port_config.h"
#include "link/serial_port.h"
#include "link/tconnect.h"
#include "link/transfer_host.h"
#include "link/worker_thread.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace tk7v {

class DeviceLink {
public:
    // What the link asks of its owner beside the worker's hand-offs: how to wait for the worker.
    // A host whose hand-offs run on a thread of its own (the window) keeps running them while it
    // waits; the defaults suit a host whose hand-offs run on the worker's thread, where nothing
    // is left to run, so the waits are plain.
    class Host : public TransferHost {
    public:
        // Waits until `done` is set or the time runs out; true when set.
        virtual bool waitForDone(const ManualResetEvent& done, std::chrono::milliseconds timeout) {
            return done.wait(timeout);
        }
        // Waits until `finished()` holds (the worker's last hand-off has run).
        virtual void waitForFinish(const std::function<bool()>& /*finished*/) {}
        // Any thread: the worker's run has ended.
        virtual void workerFinished() {}
        // True while the calling thread runs a hand-off, that is while the worker waits for it.
        virtual bool inHandoff() const { return false; }
        // The owner is going away: hand-offs waiting now and later return at once without running.
        virtual void detach() {}
    };

    // The port a link drives: the serial port, or a stand-in that records what the port is told.
    class Port : public Channel {
    public:
        virtual SerialPort::OpenResult open(const std::string& path, const PortConfig& config) = 0;
        virtual bool isOpen() const = 0;
        virtual SysError close() = 0;
        virtual SysError purge() = 0;
        virtual SysError setRts(bool on) = 0;
        // A write from the owner's thread, which has no stop signal of its own; a close fails it.
        virtual IoStatus write(std::span<const std::uint8_t> bytes) = 0;
        using Channel::write;
    };

    // Over a serial port of its own.
    explicit DeviceLink(Host& host);
    // Over `port`, which must outlive the link.
    DeviceLink(Host& host, Port& port) : host_(host), port_(port) {}
    ~DeviceLink(); // like shutdown()
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    // Opens the port with the settings; RTS is left to the worker whatever they say.
    SerialPort::OpenResult open(const std::string& path, PortConfig config);
    bool isOpen() const { return port_.isOpen(); }

    // Start an exchange: purge the port, reset the done event, set the operation, start a worker.
    void identify() { start(opConnect); }
    void read() { start(opRead); }
    void write() { start(opWrite); }
    // A write of this block, without asking the host's CollectBlock for it.
    void write(const Block& block) { start(opWrite, &block); }

    // Runs an exchange to its end on the calling thread, the hand-offs included: for an owner
    // with nothing else to do meanwhile (a station's job), which saves handing each exchange to
    // the worker thread and back. requestStop() is the way to end it early.
    // `readOnly`: a read of only the chunks holding these bytes (offset, count), as
    // TConnect::ReadOnly.
    void runHere(Operation op, const Block* toWrite = nullptr,
                 std::vector<std::pair<std::size_t, std::size_t>> readOnly = {});
    // Any thread: the exchange runHere() runs stops at its next wait (a chunk once started goes
    // out whole), and so does each one it starts until clearStop(). Left to the owner: closing an
    // identification's port, as abort() does.
    void requestStop();
    void clearStop();

    // What stopping the exchange did.
    enum class Stopped { Nothing, Transfer, PortClosed, CloseFailed };
    // Stops the running exchange and waits (at most 3 s) for the worker's done event. During an
    // identification the port is closed too (RTS dropped first); a read or write leaves it open.
    Stopped abort();

    // The first half of a disconnect: drops RTS, purges and sends "RESET\r", telling `status`
    // the texts between the steps (on the calling thread). The error of the step that failed;
    // the link stays open either way.
    SysError resetDevice(const std::function<void(const std::string&)>& status = {});
    // Stops any worker (waiting at most 3 s for its done event), drops RTS and closes the port.
    Stopped close();
    // resetDevice, then close when it succeeded or the device is gone (closing is then the only
    // way to release the port). The step's error, if any.
    SysError disconnect();

    // Stops any worker, purges and closes the port: no reset is sent (the window is closing).
    void shutdown();

    int operation() const { return operation_.load(); }
    // Throws away what the port has received; how many bytes it was. Between exchanges only.
    std::size_t discardInput() { return port_.discardInput(); }
    // True while a worker still runs (it may have set the done event and be finishing its last
    // text).
    bool workerRunning() const { return worker_ && !worker_->Finished(); }
    // Lets the current worker finish (its hand-offs run meanwhile) and joins it.
    void waitForWorker();

private:
    // The previous worker retired, the port purged, the next worker made.
    std::unique_ptr<TConnect> prepare(Operation op, const Block* toWrite);
    void start(Operation op, const Block* toWrite = nullptr);
    void retireWorker();
    // Stop request, operation idle, the bounded wait for the done event.
    void stopAndWait();
    Stopped closePort();

    Host& host_;
    std::unique_ptr<Port> ownPort_;
    Port& port_;
    std::atomic<int> operation_{opIdle};
    ManualResetEvent done_;
    WorkerThread thread_; // runs the workers; declared before them, so it outlives every one
    std::unique_ptr<TConnect> worker_;
    std::mutex stopMutex_;
    TConnect* runningHere_ = nullptr; // under stopMutex_, while runHere() runs it
    bool stopAsked_ = false;          // under stopMutex_
};

} // namespace tk7v
