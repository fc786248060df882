#pragma once
// What a transfer worker asks of whoever runs it, and the exchange it is told to run.
#include "link/manual_reset_event.h"
#include "link/protocol.h"
#include "link/system_error.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tk7v {

// Which exchange runs. The values are the device program's own.
enum Operation : int { opIdle = 0, opConnect = 1, opRead = 2, opWrite = 3 };

using Block = std::array<std::uint8_t, protocol::kBlockSize>;

// How an exchange ended.
struct ExchangeEnd {
    enum class How {
        Done,      // every step done; a read's block was delivered
        Cancelled, // a stop request ended it
        Failed,    // a channel call failed: `error` says how
    };
    How how = How::Done;
    SysError error;
};

// Each call is a synchronous hand-off: the worker waits until it has run. The window runs them
// on its own thread; the command line runs them on the worker's.
//
// Two kinds of call: the window's hand-offs (PostStatus to RestoreControls), which carry texts and
// effects on the controls, and events, which tell the same story as data for code that must
// decide on it. No code decides by comparing a text; the events exist so none has to. Events
// come right after the hand-off they belong to, so a host that ignores them sees the window's
// order of effects unchanged.
class TransferHost {
public:
    virtual ~TransferHost() = default;

    // Status texts are UTF-8 (device text already decoded).
    virtual void PostStatus(const std::string& text) = 0;
    virtual void ReportIoError(std::uint32_t code) = 0;
    virtual void DeliverBlock(const Block& block) = 0;
    // Asked only when the exchange was not given its block to write.
    virtual void CollectBlock(Block& block) = 0;
    virtual void RestoreControls() = 0;

    // The device answered the identification request with this line (UTF-8, without its end).
    virtual void identified(const std::string& /*line*/) {}
    // The share done, 0 to 100, of the running read or write, beside its progress text.
    virtual void progress(Operation, int /*percent*/) {}
    // The write chunk at `address` was answered with something other than "OK"; it is sent again.
    virtual void chunkRejected(std::size_t /*address*/) {}
    // The worker's run is over: its last call.
    virtual void exchangeEnded(Operation, const ExchangeEnd&) {}
};

} // namespace tk7v
