#pragma once
// What a transfer worker asks of whoever runs it, and the exchange it is told to run.
#include "link/manual_reset_event.h"
#include "link/protocol.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace tk7v {

// Which exchange runs. The values are the device program's own.
enum Operation : int { opIdle = 0, opConnect = 1, opRead = 2, opWrite = 3 };

using Block = std::array<std::uint8_t, protocol::kBlockSize>;

// Each call is a synchronous hand-off: the worker waits until it has run. The window runs them
// on its own thread; the command line runs them on the worker's.
class TransferHost {
public:
    virtual ~TransferHost() = default;
    // Status texts are UTF-8 (device text already decoded).
    virtual void PostStatus(const std::string& text) = 0;
    // Beside the progress texts: the share done, 0 to 100, of the running read or write.
    virtual void ReportProgress(Operation, int /*percent*/) {}
    virtual void ReportIoError(std::uint32_t code) = 0;
    virtual void DeliverBlock(const Block& block) = 0;
    virtual void CollectBlock(Block& block) = 0;
    virtual void RestoreControls() = 0;
};

// A host that runs hand-offs on a thread of its own (the window) also tells the link how to
// wait for the worker without stopping them. The defaults suit a host whose hand-offs run on
// the worker's thread: nothing to run, so the waits are plain.
class LinkHost : public TransferHost {
public:
    // Waits until `done` is set or the time runs out; true when set.
    virtual bool WaitForDone(const ManualResetEvent& done, std::chrono::milliseconds timeout) {
        return done.wait(timeout);
    }
    // Waits until `finished()` holds (the worker's last hand-off has run).
    virtual void WaitForFinish(const std::function<bool()>& /*finished*/) {}
    // Any thread: the worker's run has ended.
    virtual void WorkerFinished() {}
    // True while the calling thread runs a hand-off, that is while the worker waits for it.
    virtual bool InHandoff() const { return false; }
    // The owner is going away: hand-offs waiting now and later return at once without running.
    virtual void Detach() {}
};

} // namespace tk7v
