#include "link/tconnect.h"

#include "link/device_text.h"
#include "link/exchange_texts.h"

#include <algorithm>

namespace tk7v {

using namespace std::chrono_literals;
namespace proto = protocol;

namespace texts {

int ReadPercent(std::size_t address) {
    return static_cast<int>(address * 100 / proto::kReadLength);
}
int WritePercent(std::size_t address, std::size_t count) {
    return static_cast<int>((address + count) * 100 / proto::kWriteLength);
}
std::string ReadProgressText(std::size_t address) {
    return kReading + std::to_string(ReadPercent(address)) + "%";
}
std::string WriteProgressText(std::size_t address, std::size_t count) {
    return kWriting + std::to_string(WritePercent(address, count)) + "%";
}

} // namespace texts

using namespace texts;

TConnect::TConnect(Channel& channel, std::atomic<int>& operation, ManualResetEvent& done, TransferHost& host)
    : channel_(channel), operation_(operation), done_(done), host_(host) {}

TConnect::TConnect(Channel& channel, std::atomic<int>& operation, ManualResetEvent& done, TransferHost& host,
                   const Block& toWrite)
    : channel_(channel), operation_(operation), done_(done), host_(host), given_(toWrite) {}

TConnect::~TConnect() {
    RequestStop();
    Join();
}

void TConnect::Start(std::function<void()> onFinished) {
    onFinished_ = std::move(onFinished);
    thread_ = std::thread([this] { Run(); });
}

void TConnect::Start(WorkerThread& thread, std::function<void()> onFinished) {
    onFinished_ = std::move(onFinished);
    runsOn_ = &thread;
    task_ = thread.run([this] { Run(); });
}

void TConnect::Run() {
    Execute();
    finished_.store(true, std::memory_order_release);
    if (onFinished_) onFinished_();
}

void TConnect::Join() {
    if (thread_.joinable()) thread_.join();
    if (runsOn_) runsOn_->wait(task_);
}

void TConnect::Execute() {
    running_ = static_cast<Operation>(operation_.load());
    if (StopRequested()) return CancelEnding();
    switch (running_) {
    case opConnect:
        return Identify();
    case opRead:
        return Read();
    case opWrite:
        return Write();
    default:
        return SuccessEnding();
    }
}

void TConnect::CancelEnding() {
    // The window may be waiting for the done event and runs no hand-off meanwhile: set it first.
    done_.set();
    PostStatus(kCancelled);
    Ended(failed_ ? ExchangeEnd::How::Failed : ExchangeEnd::How::Cancelled);
}

void TConnect::SuccessEnding() {
    operation_.store(opIdle);
    done_.set();
    host_.RestoreControls();
    Ended(ExchangeEnd::How::Done);
}

void TConnect::Ended(ExchangeEnd::How how) {
    host_.exchangeEnded(running_,
                        {how, how == ExchangeEnd::How::Failed ? MakeSysError(lastError_) : SysError{}});
}

void TConnect::PostStatus(const std::string& text) {
    host_.PostStatus(text);
}

void TConnect::ReportIoError(std::uint32_t code) {
    lastError_ = code;
    failed_ = true;
    host_.ReportIoError(code);
    RequestStop();
}

void TConnect::RaiseRtsOnce() {
    if (!RtsRaised && !StopRequested()) {
        channel_.raiseRts();
        RtsRaised = true;
    }
}

void TConnect::Pause(std::chrono::milliseconds ms) {
    stop_.waitFor(ms);
}

void TConnect::DiscardInput() {
    receivedBegin_ = receivedEnd_ = 0;
    channel_.discardInput();
}

void TConnect::ExpectReply(std::size_t commandBytes, std::size_t replyBytes) {
    // The command crosses the line, then the reply does; the device's turnaround and a USB
    // adapter's latency come on top. Before that the reply cannot be whole, so there is nothing
    // to look at. The first look comes a quarter of a character later: a device that answers at
    // once is then found done, where a look at the very instant would mostly find its last
    // byte still on the way and cost a second wake-up. A device whose clock runs a little fast
    // is found a character or so after its reply ended.
    const auto character = channel_.characterTime();
    const auto now = std::chrono::steady_clock::now();
    const auto command = character * static_cast<long>(commandBytes);
    const auto reply = character * static_cast<long>(replyBytes);
    awaited_ = character.count() > 0 ? replyBytes : 0;
    awaitedFrom_ = now + command + reply + character / 4;
    awaitedBy_ = now + std::chrono::ceil<std::chrono::milliseconds>(command + reply) + 50ms;
}

void TConnect::AwaitLine() {
    // A line of unknown length comes at the line's pace: rather than wake for each character, the
    // port is looked at again once several more can have come, never more than a few
    // milliseconds past the line's end. The first look waits until the shortest line can be here.
    const auto character = channel_.characterTime();
    if (character.count() == 0) return;
    const auto now = std::chrono::steady_clock::now();
    const auto look = std::clamp<std::chrono::microseconds>(8ms, character, 8 * character);
    const auto soonest = std::max(awaitedFrom_, now + look) - now;
    channel_.expect(1, std::chrono::duration_cast<std::chrono::microseconds>(soonest),
                    std::chrono::duration_cast<std::chrono::microseconds>(soonest));
}

void TConnect::SettleLine() {
    // The line may still carry the tail of an earlier answer: a device that sends "OK" after
    // its identification line, or the late answer to a chunk of a write that was stopped. Taken
    // for the first chunk's answer, it would shift every answer by one chunk, and a refused
    // chunk would pass for a taken one. Four characters of silence (5 ms at least) tell that
    // nothing more is on its way; a device that never falls silent is given up on after a
    // second, and its noise is skipped as before.
    const auto character = channel_.characterTime();
    DiscardInput();
    if (character.count() == 0) return;
    const auto quiet = std::max(std::chrono::ceil<std::chrono::milliseconds>(4 * character), 5ms);
    const auto giveUp = std::chrono::steady_clock::now() + 1s;
    while (!StopRequested() && std::chrono::steady_clock::now() < giveUp) {
        Pause(quiet);
        if (channel_.discardInput() == 0) break;
    }
    receivedBegin_ = receivedEnd_ = 0;
}

std::size_t TConnect::TakeReceived(std::span<std::uint8_t> into) {
    const std::size_t n = std::min(into.size(), receivedEnd_ - receivedBegin_);
    std::copy_n(received_.begin() + static_cast<long>(receivedBegin_), n, into.begin());
    receivedBegin_ += n;
    return n;
}

bool TConnect::ReceiveBytes(std::span<std::uint8_t> into) {
    RaiseRtsOnce();
    std::size_t done = TakeReceived(into);
    while (done < into.size()) {
        std::size_t got = 0;
        const IoStatus s = channel_.readSome(received_, stop_, got);
        receivedBegin_ = 0;
        receivedEnd_ = got;
        if (s.kind == IoStatus::Failed && !StopRequested()) ReportIoError(s.code);
        if (s.kind != IoStatus::Ok) return false;
        done += TakeReceived(into.subspan(done));
    }
    return true;
}

std::uint8_t TConnect::ReceiveByte() {
    std::uint8_t b = 0;
    return ReceiveBytes({&b, 1}) ? b : 0;
}

bool TConnect::SendBytes(std::span<const std::uint8_t> bytes, bool stoppable) {
    // A chunk of a write goes out whole: cut after its head, the device would take the next
    // command as the chunk's data. Closing the port still ends such a write.
    static const StopSignal never;
    RaiseRtsOnce();
    const IoStatus s = channel_.write(bytes, stoppable ? stop_ : never);
    if (s.kind == IoStatus::Failed && !StopRequested()) ReportIoError(s.code);
    return s.kind == IoStatus::Ok;
}

bool TConnect::ReceiveReply(std::optional<std::pair<std::size_t, std::size_t>> command) {
    proto::ReplyReceiver rx(ReplyBuffer, BlockBuffer);
    if (command) rx.expect(command->first, command->second);
    // The data of a reply is asked for in one read. A count letter promises at most 31 bytes,
    // so this buffer bounds the read whatever the device sends; the receiver then keeps only
    // what falls inside the block.
    std::array<std::uint8_t, 32> bulk;
    while (!rx.done() && !StopRequested()) {
        if (const std::size_t want = std::min(rx.bulkWanted(), bulk.size())) {
            if (!ReceiveBytes({bulk.data(), want})) return false;
            rx.feedBulk({bulk.data(), want});
            continue;
        }
        // About to wait on the channel: it is told what the awaited reply still owes (all of it
        // while only leftovers such as an earlier reply's CR LF have come).
        if (receivedBegin_ == receivedEnd_ && awaited_ > 0) {
            using std::chrono::microseconds;
            const auto now = std::chrono::steady_clock::now();
            const std::size_t begun = std::min<std::size_t>(rx.position(), awaited_ - 1);
            if (now < awaitedBy_)
                channel_.expect(awaited_ - begun,
                                std::chrono::floor<microseconds>(std::max(awaitedFrom_ - now, {})),
                                std::chrono::ceil<microseconds>(awaitedBy_ - now));
        }
        const std::uint8_t b = ReceiveByte();
        if (StopRequested()) return false;
        rx.feed(b);
    }
    return rx.answered();
}

void TConnect::Identify() {
    PostStatus(kConnecting);
    // The shortest line that identifies is the word and its CR.
    ExpectReply(proto::kReset.size(), proto::kIdentWord.size() + 1);
    SendBytes(proto::kReset);
    if (StopRequested()) return CancelEnding();
    std::string line;
    bool identified = false;
    while (!identified && !StopRequested()) {
        if (receivedBegin_ == receivedEnd_) AwaitLine();
        const std::uint8_t b = ReceiveByte();
        if (StopRequested()) break;
        if (b == '\r' || b == '\n') {
            identified = line.compare(0, proto::kIdentWord.size(), proto::kIdentWord) == 0;
            if (!identified) line.clear();
        } else if (line.size() < kMaxIdentLine) {
            line += static_cast<char>(b);
        }
    }
    if (StopRequested()) return CancelEnding();
    const std::string text = DeviceTextToUtf8(line);
    PostStatus(kConnected + text);
    host_.identified(text);
    SuccessEnding();
}

void TConnect::Read() {
    BlockBuffer.fill(0xFF);
    std::fill_n(BlockBuffer.begin(), proto::kReadLength, 0x00);
    if (StopRequested()) return CancelEnding();
    // Whether the chunk at `a` of `n` bytes holds any byte a partial read is for.
    const auto wanted = [this](std::size_t a, std::size_t n) {
        return only_.empty() || std::any_of(only_.begin(), only_.end(), [&](const auto& r) {
                   return r.first < a + n && a < r.first + r.second;
               });
    };
    for (std::size_t a = 0;;) {
        const std::size_t n =
            a + proto::kChunkSize <= proto::kReadLength ? proto::kChunkSize : proto::kReadLength - a;
        if (!wanted(a, n)) {
            a += proto::kChunkSize;
            if (a >= proto::kReadLength) break;
            continue;
        }
        PostStatus(ReadProgressText(a));
        host_.progress(opRead, ReadPercent(a));
        ExpectReply(sizeof(proto::Command), 6 + n + 1);
        SendBytes(proto::ReadCommand(n, a));
        // Only the command's own reply answers it: a late "OK" or a reply meant for another
        // command is passed over, and the wait goes on as for a silent device.
        while (!ReceiveReply(std::pair{a, n}) && !StopRequested()) {
        }
        a += proto::kChunkSize;
        if (a >= proto::kReadLength || StopRequested()) break;
    }
    if (StopRequested()) return CancelEnding();
    PostStatus(std::string(kReading) + "100%");
    host_.progress(opRead, 100);
    if (only_.empty()) Pause(100ms);
    // A stop during the pause ends the read before the block reaches the window: it arrives
    // whole or not at all.
    if (StopRequested()) return CancelEnding();
    host_.DeliverBlock(BlockBuffer);
    if (StopRequested()) return CancelEnding();
    PostStatus(kReadDone);
    SuccessEnding();
}

void TConnect::Write() {
    PostStatus(kProcessing);
    if (given_)
        BlockBuffer = *given_;
    else
        host_.CollectBlock(BlockBuffer);
    if (!StopRequested()) SettleLine();
    for (std::size_t a = 0; a < proto::kWriteLength && !StopRequested();) {
        const std::size_t n =
            a + proto::kChunkSize <= proto::kWriteLength ? proto::kChunkSize : proto::kWriteLength - a;
        PostStatus(WriteProgressText(a, n));
        host_.progress(opWrite, WritePercent(a, n));
        if (StopRequested()) break;
        DiscardInput();
        // Head, data and CR in one write: nothing another writer sends (the window's "RESET\r")
        // can come between them, and a stop lets the chunk go out whole.
        std::array<std::uint8_t, sizeof(proto::Command) + proto::kChunkSize + 1> chunk;
        const proto::Command head = proto::WriteHead(n, a);
        auto end = std::copy(head.begin(), head.end(), chunk.begin());
        end = std::copy_n(BlockBuffer.begin() + static_cast<long>(a), n, end);
        *end++ = proto::kCr;
        const std::size_t sent = static_cast<std::size_t>(end - chunk.begin());
        ExpectReply(sent, 2);
        if (!SendBytes({chunk.data(), sent}, false)) {
            RequestStop(); // a failure is reported already; a port being closed ends it too
            break;
        }
        // A reply to a write is an acknowledgement; should the device answer with data, the
        // data must not change the block that is being written.
        ReceiveReply(std::nullopt);
        // A reply cut short by a stop is no rejection: calling it one would hold the window,
        // which waits for the worker to end, in a hand-off for nothing.
        if (StopRequested()) break;
        if (ReplyBuffer[0] == 'O' && ReplyBuffer[1] == 'K') {
            a += proto::kChunkSize;
        } else {
            PostStatus(kWriteError);
            host_.chunkRejected(a);
            Pause(100ms);
        }
    }
    if (StopRequested()) return CancelEnding();
    PostStatus(std::string(kWriting) + "100%");
    host_.progress(opWrite, 100);
    Pause(100ms);
    PostStatus(kWriteDone);
    SuccessEnding();
}

} // namespace tk7v
