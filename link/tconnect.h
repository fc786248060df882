#pragma once
// The transfer worker: one exchange with the device (identify, read or write) on its own thread.
//
// Ownership: the window owns the worker (and joins it before starting the next one or when it
// closes); the worker owns its two buffers. The channel, the operation and the done event belong
// to the window and outlive the worker. The worker touches the window only through its host,
// whose calls are synchronous hand-offs run on the window thread.
#include "link/channel.h"
#include "link/manual_reset_event.h"
#include "link/protocol.h"
#include "link/stop_signal.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <thread>

namespace tk7v {

enum Operation : int { opIdle = 0, opConnect = 1, opRead = 2, opWrite = 3 };

using Block = std::array<std::uint8_t, protocol::kBlockSize>;

// What the worker asks of the window. Each call runs on the window thread while the worker waits.
class TransferHost {
public:
    virtual ~TransferHost() = default;
    virtual void PostStatus(const std::string& text) = 0;
    virtual void ReportIoError(std::uint32_t code) = 0;
    virtual void DeliverBlock(const Block& block) = 0;
    virtual void CollectBlock(Block& block) = 0;
    virtual void RestoreControls() = 0;
};

class TConnect {
public:
    // Status texts of the exchange.
    static constexpr const char* kConnecting = "Подключение к устройству...";
    static constexpr const char* kConnected = "Установлена связь c устройством: ";
    static constexpr const char* kReading = "Чтение данных... ";
    static constexpr const char* kReadDone = "Операция чтения выполнена успешно.";
    static constexpr const char* kProcessing = "Обработка данных...";
    static constexpr const char* kWriting = "Запись данных... ";
    static constexpr const char* kWriteError = "Ошибка записи!";
    static constexpr const char* kWriteDone = "Операция записи выполнена успешно.";
    static constexpr const char* kCancelled = "Операция отменена.";
    // An identification line longer than this keeps its beginning only: the first four
    // characters decide, and a device that never ends its line must not grow memory.
    static constexpr std::size_t kMaxIdentLine = 256;

    TConnect(Channel& channel, std::atomic<int>& operation, ManualResetEvent& done, TransferHost& host);
    ~TConnect(); // requests a stop and joins
    TConnect(const TConnect&) = delete;
    TConnect& operator=(const TConnect&) = delete;

    // Starts the run on a new thread. onFinished (optional) is called on that thread last.
    void Start(std::function<void()> onFinished = {});
    void RequestStop() { stop_.request(); }
    bool StopRequested() const { return stop_.requested(); }
    bool Finished() const { return finished_.load(std::memory_order_acquire); }
    void Join();

    // The worker's own state; read them only after the run has finished.
    std::uint32_t LastError = 0;
    bool RtsRaised = false;
    std::array<std::uint8_t, protocol::kReplyBufferSize> ReplyBuffer{};
    Block BlockBuffer{};
    std::string StatusText;

private:
    void Execute();
    void Identify();
    void Read();
    void Write();
    void CancelEnding();
    void SuccessEnding();

    std::uint8_t ReceiveByte();
    bool ReceiveBytes(std::span<std::uint8_t> into);
    bool SendBytes(std::span<const std::uint8_t> bytes, bool stoppable = true);
    void ReceiveReply(bool storeData);
    void PostStatus(const std::string& text);
    void ReportIoError(std::uint32_t code);
    void RaiseRtsOnce();
    void Pause(std::chrono::milliseconds ms);

    Channel& channel_;
    std::atomic<int>& operation_;
    ManualResetEvent& done_;
    TransferHost& host_;
    StopSignal stop_;
    std::atomic<bool> finished_{false};
    std::function<void()> onFinished_;
    std::thread thread_;
};

// "Чтение данных... N%" before the read command at address a (share done before it).
std::string ReadProgressText(std::size_t address);
// "Запись данных... N%" before the chunk of n bytes at address a (share done once it is written).
std::string WriteProgressText(std::size_t address, std::size_t count);

} // namespace tk7v
