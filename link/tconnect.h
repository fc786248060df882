#pragma once
// The transfer worker: one exchange with the device (identify, read or write) on a thread of its
// own or on its link's worker thread.
//
// Ownership: the device link owns the worker (and joins it before starting the next one or when
// it shuts down); the worker owns its two buffers. The channel, the operation and the done event
// belong to the link and outlive the worker. The worker touches its owner only through the host,
// whose calls are synchronous hand-offs.
#include "link/channel.h"
#include "link/manual_reset_event.h"
#include "link/protocol.h"
#include "link/stop_signal.h"
#include "link/transfer_host.h"
#include "link/worker_thread.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tk7v {

class TConnect {
public:
    // An identification line longer than this keeps its beginning only: the first four
    // characters decide, and a device that never ends its line must not grow memory.
    static constexpr std::size_t kMaxIdentLine = 256;

    TConnect(Channel& channel, std::atomic<int>& operation, ManualResetEvent& done, TransferHost& host);
    // A write of this block: the host's CollectBlock is not asked for one.
    TConnect(Channel& channel, std::atomic<int>& operation, ManualResetEvent& done, TransferHost& host,
             const Block& toWrite);
    ~TConnect(); // requests a stop and joins
    TConnect(const TConnect&) = delete;
    TConnect& operator=(const TConnect&) = delete;

    // Starts the run on a new thread, or on `thread`, which must outlive this worker.
    // onFinished (optional) is called on that thread last.
    void Start(std::function<void()> onFinished = {});
    void Start(WorkerThread& thread, std::function<void()> onFinished = {});
    // Runs the exchange on the calling thread instead; returns once it has ended.
    void RunHere() { Run(); }
    void RequestStop() { stop_.request(); }
    bool StopRequested() const { return stop_.requested(); }
    bool Finished() const { return finished_.load(std::memory_order_acquire); }
    void Join();

    // A read of only the chunks that hold these bytes (offset, count), without the pause after
    // it: a station reads what identifies a device before it decides what to write. Set it
    // before the run starts.
    void ReadOnly(std::vector<std::pair<std::size_t, std::size_t>> ranges) { only_ = std::move(ranges); }

    // The system code of the last failed channel call; read it once the run has finished.
    std::uint32_t LastError() const { return lastError_; }

private:
    void Run();
    void Execute();
    void Identify();
    void Read();
    void Write();
    void CancelEnding();
    void SuccessEnding();
    void Ended(ExchangeEnd::How how);

    std::uint8_t ReceiveByte();
    bool ReceiveBytes(std::span<std::uint8_t> into);
    std::size_t TakeReceived(std::span<std::uint8_t> into);
    bool SendBytes(std::span<const std::uint8_t> bytes, bool stoppable = true);
    // One reply. With `command` (address, count) it is a read's: true when the reply is that
    // command's own data reply, which alone is stored in the block.
    bool ReceiveReply(std::optional<std::pair<std::size_t, std::size_t>> command);
    void PostStatus(const std::string& text);
    void ReportIoError(std::uint32_t code);
    void RaiseRtsOnce();
    // Throws away what has arrived: a chunk's answer can only come after the chunk.
    void DiscardInput();
    // Before a write's first chunk: waits until the line has been quiet for a while, throwing
    // away what arrives meanwhile.
    void SettleLine();
    // Notes the reply a command of commandBytes, about to be sent, awaits: replyBytes, soon
    // after; the channel is told before each wait.
    void ExpectReply(std::size_t commandBytes, std::size_t replyBytes);
    // Before a wait for more of a line whose length is not known (the identification).
    void AwaitLine();
    void Pause(std::chrono::milliseconds ms);

    std::uint32_t lastError_ = 0;
    bool failed_ = false;
    Operation running_ = opIdle;
    bool RtsRaised = false;
    // Large enough for any reply the device sends (a count letter promises at most 31 data
    // bytes, so a reply takes at most 38); the device program sized it so, and the receiver
    // never writes beyond it whatever arrives.
    std::array<std::uint8_t, protocol::kReplyBufferSize> ReplyBuffer{};
    Block BlockBuffer{};
    // What the channel delivered beyond the bytes asked for so far: reading what the port holds
    // in one call spares a system call per byte while a reply streams in. It belongs to this
    // exchange alone; the next worker starts on a purged port.
    std::array<std::uint8_t, 64> received_{};
    std::size_t receivedBegin_ = 0, receivedEnd_ = 0;
    // The reply awaited: its length, when the line can have carried it at the soonest and when
    // it is due at the latest (ExpectReply).
    std::size_t awaited_ = 0;
    std::chrono::steady_clock::time_point awaitedFrom_{}, awaitedBy_{};

    Channel& channel_;
    std::atomic<int>& operation_;
    ManualResetEvent& done_;
    TransferHost& host_;
    std::optional<Block> given_; // the block to write, when the owner handed one over
    std::vector<std::pair<std::size_t, std::size_t>> only_; // a read's ranges; empty: the whole block
    StopSignal stop_;
    std::atomic<bool> finished_{false};
    std::function<void()> onFinished_;
    std::thread thread_;
    WorkerThread* runsOn_ = nullptr; // the link's thread, when the run was handed to it
    std::uint64_t task_ = 0;
};

} // namespace tk7v
