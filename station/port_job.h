#pragma once
// One device's part of a command: open its port, run exchanges through a DeviceLink, and end
// the link cleanly (RESET, port closed with its settings restored) whatever happens, an
// interrupt or a silent device included. Several jobs run at once, one thread each.
//
// Everything the job decides, it decides on the link's events (identified, share done, chunk
// rejected, exchange ended and how), never on the texts it shows.
#include "events.h"
#include "link/device_link.h"
#include "watchdog.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tk7v::station {

class PortJob : private DeviceLink::Host, private Watchdog::Watched {
public:
    struct Options {
        PortConfig config;
        // How long one wait on the device may last: for its identification line after RESET and
        // for each reply. A working device answers within milliseconds at any baud rate it
        // knows; a silent one is given up after this.
        std::chrono::milliseconds timeout{5000};
        // How often the same write chunk may be refused in a row before the write is given up.
        int retries = 10;
        // A station's: a reply that does not come at the wire's pace (its bytes at the port's
        // rate, the device's measured reply time and a margin) means the device was unplugged,
        // and the port goes back to looking for the next one instead of waiting the time-out.
        bool atWirePace = false;
        // Makes the port a job talks through, for the port's name; null: the system's serial port.
        // Tests hand a device of their own here.
        std::function<std::unique_ptr<DeviceLink::Port>(const std::string& port)> ports;
    };

    // `index` names the port in the events it gives `listener`, which must outlive the job.
    PortJob(std::string port, Options options, Listener& listener, int index);
    ~PortJob();
    PortJob(const PortJob&) = delete;
    PortJob& operator=(const PortJob&) = delete;

    // Held: the device already held what it was to be given (recognise() said so), and nothing
    // was written.
    enum class Result { Done, Failed, Interrupted, NoAnswer, Held };

    // Each runs on the calling thread and ends with the port closed.
    Result identify();
    Result read(); // the block: block()
    Result write(const ParameterImage& image, bool verify);
    Result verify(const ParameterImage& image); // reads bytes 0..237 back and compares

    // Called by write() once the device has answered and before anything is sent: makes the
    // image that device gets (a list row, a number) from the one given. An error's words end the
    // job unwritten. Set it before write() on the job's own thread.
    using BeforeWrite = std::function<std::string(ParameterImage& image)>;
    void beforeWrite(BeforeWrite prepare) { beforeWrite_ = std::move(prepare); }
    // The image the last write() sent (or meant to send).
    const ParameterImage& written() const { return written_; }
    // Called by write() once the device has answered, before anything is claimed or sent, when
    // set: the device's block is read and shown, with the image it is to get; true when it holds
    // that already, and write() then ends Held without writing. Set it on the job's own thread.
    using Recognise = std::function<bool(const ParameterImage& device, const ParameterImage& image)>;
    void recognise(Recognise check) { recognise_ = std::move(check); }
    // Called by write() once the device has answered, before anything is claimed, when set: the
    // bytes at `ranges` (offset, count) that tell which device it is are read, and `keep` is shown
    // them (the rest of the block unread) with the image the device is to get. True when the
    // device holds values it keeps: `keep` has put them into the image, and beforeWrite() is not
    // called; the whole block is then read for recognise() (set it too), and written only when
    // it differs. Set it on the job's own thread.
    using Ranges = std::vector<std::pair<std::size_t, std::size_t>>;
    using Keep = std::function<bool(const ParameterImage& device, ParameterImage& image)>;
    void identity(Ranges ranges, Keep keep) {
        identityRanges_ = std::move(ranges);
        keep_ = std::move(keep);
    }
    // Any thread: whether interrupt() was called.
    bool interrupted() const { return interrupted_; }

    // For a station that programs one device after another on this port: wait until a device
    // answers, and later until it no longer does (taken away at the cable's end, or its adapter
    // pulled out with the port). Both only ever send the identification request, a probe every
    // `kProbeInterval`, each waiting as long as the device's answer takes on the line and a
    // margin (probeLimit()), not the time-out: an operator swaps devices in well under a second.
    // A probe that missed is looked at again before the next one: bytes that came after its
    // limit are a device's late answer (a slow device, or a busy machine that looked too soon),
    // so the device is there, and the probes that follow wait longer, up to the time-out. The
    // device is gone once a probe found it silent and nothing came late, or its port absent; a
    // port another program holds, or that refuses to open, is shown with the system's reason and
    // tried again. Done when the wait is over; Interrupted when interrupt() or endWaits() ended it.
    static constexpr std::chrono::milliseconds kProbeInterval{150};
    static constexpr std::chrono::milliseconds kProbeMargin{150};
    static constexpr int kProbeLineChars = 48; // RESET, the identification line and its end
    // Misses in a row after which the port was empty beyond doubt: the next device to answer is
    // a new one without a look at what it holds.
    static constexpr int kMissedForEmpty = 3;
    // The longest quiet an exchange keeps on its own at the wire's pace (after a read).
    static constexpr std::chrono::milliseconds kPauses{150};
    Result awaitDevice();
    Result awaitGone();
    // After awaitDevice(): whether the port was seen empty before the device answered (false for
    // one already there when the wait began, or one that answered after a short silence, which
    // may be the same device).
    bool arrivedClearly() const { return arrivedClearly_; }
    std::chrono::milliseconds probeLimit() const;
    // How long the last device to answer took to identify itself; zero before one has.
    std::chrono::milliseconds replyTime() const { return replyTime_; }
    // Opens the port and closes it again, sending nothing: whether the station can use it.
    Result tryOpen();

    // Any thread: stops the job's exchange; the job then ends its link.
    void interrupt();
    // Any thread: ends a wait for a device (or for its removal) without touching an exchange.
    void endWaits();

    const std::string& port() const { return port_; }
    int index() const { return index_; }
    const std::string& identification() const { return ident_; }
    const ParameterImage& block() const { return block_; }
    // What went wrong, in words for the installer (for NoAnswer: the step the device fell silent
    // in); empty when nothing did.
    const std::string& error() const { return error_; }
    // True when the device fell silent at the wire's pace in a station (unplugged), not after the
    // time-out.
    bool unplugged() const { return unplugged_; }
    // Whether error() is the system's own text for a failure ("Broken pipe"), which needs the
    // word "ошибка" before it; ours already say what failed.
    bool errorInSystemWords() const { return systemWords_; }
    // True once a write chunk may have reached the device (an interrupted write leaves part of
    // the block there).
    bool wroteSomething() const { return wroteSomething_; }
    // True when the block read back differs from the one written or given.
    bool verifyFailed() const { return verifyFailed_; }

private:
    enum class Ended { Success, Failure, Interrupt, Timeout, GaveUp };
    using Clock = std::chrono::steady_clock;

    bool open();
    void clear(); // forgets the previous device
    enum class Probe { Answered, Missed, Unavailable, Interrupted };
    Probe probe(); // one identification
    Result await(bool present);
    Ended exchange(Operation op, const ParameterImage* toWrite = nullptr, Ranges readOnly = {});
    Result finish(Ended e);
    Result readAndCompare(const ParameterImage& image);
    void touch();
    std::string step() const;

    // Hand-offs and events: the exchange runs on the job's thread, and they run there within it.
    void PostStatus(const std::string& text) override;
    void ReportIoError(std::uint32_t code) override;
    void DeliverBlock(const Block& block) override;
    void CollectBlock(Block&) override {} // never asked: a write hands its block to the link
    void RestoreControls() override { touch(); }
    void identified(const std::string& line) override;
    void progress(Operation op, int percent) override;
    void chunkRejected(std::size_t address) override;
    void exchangeEnded(Operation op, const ExchangeEnd& end) override;
    // The watchdog's look: an exchange whose device has been silent for the time-out is stopped.
    Clock::time_point check(Clock::time_point now) override;

    std::string port_;
    Options options_;
    Listener& listener_;
    int index_;
    std::unique_ptr<DeviceLink::Port> ownPort_; // made by the options' factory, when given
    DeviceLink link_;
    std::shared_ptr<Watchdog> watchdog_ = Watchdog::shared();
    std::mutex watchMutex_;
    bool watched_ = false;  // under watchMutex_: an exchange runs and its time is kept
    bool timedOut_ = false; // under watchMutex_: the watchdog stopped the exchange running
    std::atomic<bool> interrupted_{false};
    std::atomic<bool> waitsEnded_{false};
    // While a station waits for a device or its removal: the probes' texts are not passed on, so
    // a waiting port keeps saying it waits.
    std::atomic<bool> quiet_{false};
    ManualResetEvent interruptedEvent_; // wakes a station's wait between probes
    std::atomic<Clock::rep> lastActivity_{0};
    std::atomic<int> running_{opIdle};
    std::atomic<int> percent_{-1};
    int taken_ = 0, sending_ = 0; // the job's thread: a write's share taken, and with the chunk going out
    std::optional<ExchangeEnd> outcome_;
    std::size_t rejectedAt_ = 0;
    int rejections_ = 0;
    std::atomic<bool> gaveUp_{false};
    std::atomic<std::chrono::milliseconds::rep> limit_{0}; // the running exchange's silence limit
    // The job's thread: the wire's pace limit the running exchange takes at its worker's first
    // sign of life; zero for none.
    std::chrono::milliseconds paced_{0};
    bool probing_ = false;  // the job's thread: an exchange is a probe
    bool checking_ = false; // the job's thread: a read is recognise()'s
    int missedInRow_ = 0;   // the job's thread: probes in a row that found no device
    bool arrivedClearly_ = false;
    // The job's thread: how long a probe waits once late answers were seen; zero: probeLimit().
    std::chrono::milliseconds lateLimit_{0};
    bool unplugged_ = false;                 // the job's thread
    std::chrono::milliseconds replyTime_{0}; // the job's thread
    Clock::time_point exchangeStart_{};      // the job's thread
    Recognise recognise_;
    Ranges identityRanges_;
    Keep keep_;
    ParameterImage block_{};
    ParameterImage written_{};
    BeforeWrite beforeWrite_;
    std::string ident_;
    std::string error_;
    bool systemWords_ = false;
    std::atomic<bool> wroteSomething_{false};
    bool verifyFailed_ = false;
    ErrorKind failedKind_ = ErrorKind::None; // of the last failure: the port's, or an exchange's

    void setSystemError(std::uint32_t code);
};

} // namespace tk7v::station
