#include "port_job.h"

#include "link/exchange_texts.h"
#include "link/port_list.h"
#include "model/field_rules.h"

namespace tk7v::station {

using namespace std::chrono_literals;

namespace {

std::unique_ptr<DeviceLink::Port> portFor(const PortJob::Options& options, const std::string& port) {
    return options.ports ? options.ports(port) : nullptr;
}

} // namespace

PortJob::PortJob(std::string port, Options options, Listener& listener, int index)
    : port_(std::move(port)), options_(std::move(options)), listener_(listener), index_(index),
      ownPort_(portFor(options_, port_)), link_(ownPort_ ? DeviceLink(*this, *ownPort_) : DeviceLink(*this)) {
    watchdog_->watch(*this);
}

PortJob::~PortJob() {
    watchdog_->unwatch(*this);
}

void PortJob::interrupt() {
    interrupted_ = true;
    link_.requestStop();
    interruptedEvent_.set();
}

Watchdog::Clock::time_point PortJob::check(Clock::time_point now) {
    std::lock_guard lock(watchMutex_);
    // An exchange that starts after this look ends no sooner than a time-out after it; one with
    // a shorter limit (a probe) pokes the watchdog as it starts.
    if (!watched_) return now + options_.timeout;
    // Every hand-off of the worker's is a sign of life; the time-out runs from the last one, so
    // it bounds each wait on the device, not the whole exchange.
    const auto due =
        Clock::time_point(Clock::duration(lastActivity_.load())) + std::chrono::milliseconds(limit_.load());
    if (now < due) return due;
    timedOut_ = true;
    link_.requestStop();
    return now + options_.timeout;
}

void PortJob::touch() {
    lastActivity_ = Clock::now().time_since_epoch().count();
    if (paced_.count() > 0 && limit_ != paced_.count()) {
        limit_ = paced_.count();
        watchdog_->poke(); // its next look may be due a time-out from now
    }
}

void PortJob::endWaits() {
    waitsEnded_ = true;
    interruptedEvent_.set();
}

void PortJob::clear() {
    block_ = {};
    ident_.clear();
    error_.clear();
    systemWords_ = false;
    wroteSomething_ = false;
    verifyFailed_ = false;
    unplugged_ = false;
    failedKind_ = ErrorKind::None;
}

std::chrono::milliseconds PortJob::probeLimit() const {
    // Ten bits a character at the port's rate, the whole line each way, and the margin.
    const auto baud = std::max<std::uint32_t>(options_.config.baudRate, 1);
    const auto line = std::chrono::microseconds(10'000'000LL * kProbeLineChars / baud);
    return std::max({std::chrono::ceil<std::chrono::milliseconds>(line) + kProbeMargin,
                     2 * replyTime_ + kProbeMargin, lateLimit_});
}

PortJob::Probe PortJob::probe() {
    // A silent port stays open from one probe to the next: opening and closing it a few times a
    // second on every waiting port would cost more than the probes themselves. A device that
    // answers is let go at once (reset, port closed), as after any identification.
    probing_ = true;
    Result r = Result::Failed;
    const bool wasOpen = link_.isOpen();
    if (!wasOpen) clear();
    if (wasOpen || open()) {
        const Ended e = exchange(opConnect);
        r = e == Ended::Timeout && link_.isOpen() ? Result::NoAnswer : finish(e);
    }
    probing_ = false;
    switch (r) {
    case Result::Done:
        return Probe::Answered;
    case Result::Interrupted:
        return Probe::Interrupted;
    case Result::NoAnswer:
        return Probe::Missed;
    case Result::Failed:
    case Result::Held:
        break;
    }
    // A port that is gone, or whose device went with it, is an absence; one that another program
    // holds for a moment, or that refuses this user, says nothing about the device.
    return failedKind_ == ErrorKind::NotFound || failedKind_ == ErrorKind::DeviceGone ? Probe::Missed
                                                                                      : Probe::Unavailable;
}

PortJob::Result PortJob::await(bool present) {
    quiet_ = true;
    // However the wait ends, the port a silent probe left open is closed (nothing to reset: no
    // device answered on it) and the job's texts are passed on again.
    struct Loud {
        PortJob& job;
        ~Loud() {
            if (job.link_.isOpen()) job.link_.shutdown();
            job.quiet_ = false;
        }
    } loud{*this};
    bool unavailable = false;
    for (;;) {
        if (interrupted_ || waitsEnded_) return Result::Interrupted;
        const Probe p = probe();
        if (p == Probe::Interrupted) return Result::Interrupted;
        // Misses count in a row only: a probe lost to noise now and another hours later say
        // nothing about the device.
        const int missedBefore = missedInRow_;
        missedInRow_ = p == Probe::Missed ? missedInRow_ + 1 : p == Probe::Answered ? 0 : missedInRow_;
        if (p == Probe::Answered) lateLimit_ = {};
        if (present && p == Probe::Answered) {
            arrivedClearly_ = missedBefore >= kMissedForEmpty;
            return Result::Done;
        }
        if (p == Probe::Unavailable) {
            unavailable = true;
            listener_.state(index_, PortState::Unavailable, error_);
        } else if (unavailable) {
            unavailable = false;
            listener_.state(index_, present ? PortState::AwaitingDevice : PortState::AwaitingRemoval, {});
        }
        if (interruptedEvent_.wait(kProbeInterval)) return Result::Interrupted;
        if (p != Probe::Missed) continue;
        // The port a silent probe left open shows whether the answer only came late.
        if (link_.isOpen() && link_.discardInput() > 0) {
            missedInRow_ = missedBefore;
            lateLimit_ = std::min(std::max(2 * lateLimit_, 2 * probeLimit()), options_.timeout);
            continue;
        }
        lateLimit_ = {};
        if (!present) {
            clear();
            return Result::Done;
        }
    }
}

PortJob::Result PortJob::tryOpen() {
    clear();
    if (!open()) return Result::Failed;
    link_.shutdown();
    return Result::Done;
}

PortJob::Result PortJob::awaitDevice() {
    return await(true);
}

PortJob::Result PortJob::awaitGone() {
    return await(false);
}

bool PortJob::open() {
    const auto r = link_.open(PortPath(port_), options_.config);
    if (r.stage == SerialPort::OpenResult::Opened) return true;
    failedKind_ = r.error.kind == ErrorKind::None ? ErrorKind::Other : r.error.kind;
    error_ = r.stage == SerialPort::OpenResult::OpenFailed
                 ? "Невозможно подключиться к порту " + port_ + ": " + SystemErrorText(r.error.code)
             : r.error.kind == ErrorKind::NotAPort ? port_ + " — не последовательный порт"
                                                   : "Неверные установки соединения";
    return false;
}

PortJob::Ended PortJob::exchange(Operation op, const ParameterImage* toWrite, Ranges readOnly) {
    outcome_.reset();
    gaveUp_ = false;
    rejections_ = 0;
    running_ = op;
    percent_ = -1;
    taken_ = sending_ = 0;
    // A stop asked before this line belongs to an exchange that is over; an interrupt since is
    // seen below or by the link.
    link_.clearStop();
    if (interrupted_) return Ended::Interrupt;
    paced_ = {};
    touch();
    if (!quiet_)
        listener_.phase(index_, op == opConnect ? Phase::Connecting
                                : op == opRead  ? (checking_ ? Phase::Checking : Phase::Reading)
                                                : Phase::Writing);
    // At the wire's pace an exchange's silence may last a pause of its own (100 ms after a read's
    // last reply) beside a probe's wait. It is timed from the worker's first sign of life: what
    // comes before it, the port's purge, waits for the system (a driver, or Wine, draining what
    // it says it still holds), not for the device.
    const auto limit = probing_ ? std::min(probeLimit(), options_.timeout) : options_.timeout;
    if (!probing_ && options_.atWirePace) paced_ = std::min(probeLimit() + kPauses, options_.timeout);
    exchangeStart_ = Clock::now();
    {
        std::lock_guard lock(watchMutex_);
        timedOut_ = false;
        watched_ = true;
        limit_ = limit.count();
    }
    // A probe's limit is shorter than the watchdog's next look may be.
    if (limit < options_.timeout) watchdog_->poke();
    // The exchange runs on this thread, which has nothing else to do meanwhile; an interrupt,
    // a write given up and the watchdog stop it between chunks or while it waits for an answer
    // (a chunk once started goes out whole).
    link_.runHere(op, toWrite, std::move(readOnly));
    bool timedOut = false;
    {
        std::lock_guard lock(watchMutex_);
        watched_ = false;
        timedOut = timedOut_;
    }
    // An identification cut short leaves its port to be closed, unreset.
    // A probe that found no device keeps its port open for the next one.
    if (interrupted_ || gaveUp_ || (timedOut && !probing_)) link_.abort();
    if (outcome_ && outcome_->how == ExchangeEnd::How::Done) return Ended::Success;
    if (interrupted_) return Ended::Interrupt;
    if (gaveUp_) return Ended::GaveUp;
    if (timedOut) return Ended::Timeout;
    return Ended::Failure;
}

std::string PortJob::step() const {
    const int percent = percent_;
    const std::string share = percent >= 0 ? ", " + std::to_string(percent) + "%" : "";
    switch (running_.load()) {
    case opConnect:
        return "опознание";
    case opRead:
        return "чтение" + share;
    default:
        return "запись" + share;
    }
}

PortJob::Result PortJob::finish(Ended e) {
    // Whatever happened, the device is told to reset (unless the identification was cut short,
    // which closes without sending) and the port is closed with its settings restored.
    if (link_.isOpen()) {
        const SysError failed = link_.disconnect();
        if (failed && error_.empty()) setSystemError(failed.code);
    }
    if (link_.isOpen()) link_.shutdown();
    switch (e) {
    case Ended::Success:
        return error_.empty() ? Result::Done : Result::Failed;
    case Ended::Interrupt:
        return Result::Interrupted;
    case Ended::Timeout:
        // Silent at the wire's pace mid-exchange: the cable was pulled.
        unplugged_ = options_.atWirePace && !probing_;
        error_ = unplugged_ ? "отключено во время " + std::string(running_ == opConnect ? "опознания"
                                                                  : running_ == opRead  ? "чтения"
                                                                                        : "записи")
                            : "не отвечает (" + step() + ")";
        return Result::NoAnswer;
    case Ended::GaveUp:
        error_ = std::string(texts::kWriteError) + " (попыток подряд: " + std::to_string(rejections_) +
                 "), запись прекращена (" + step() + ")";
        return Result::Failed;
    case Ended::Failure:
        if (outcome_ && outcome_->error && failedKind_ == ErrorKind::None) failedKind_ = outcome_->error.kind;
        if (error_.empty() && outcome_ && outcome_->error)
            setSystemError(outcome_->error.code);
        else if (error_.empty())
            error_ = texts::kCancelled;
        return Result::Failed;
    }
    return Result::Failed;
}

void PortJob::setSystemError(std::uint32_t code) {
    error_ = SystemErrorText(code);
    systemWords_ = !HasOwnErrorText(code);
}

PortJob::Result PortJob::identify() {
    clear();
    if (!open()) return Result::Failed;
    return finish(exchange(opConnect));
}

PortJob::Result PortJob::read() {
    clear();
    if (!open()) return Result::Failed;
    Ended e = exchange(opConnect);
    if (e == Ended::Success) e = exchange(opRead);
    return finish(e);
}

PortJob::Result PortJob::readAndCompare(const ParameterImage& image) {
    Ended e = exchange(opRead);
    if (e == Ended::Success && !DiffFields(block_, image).empty()) {
        verifyFailed_ = true;
        error_ = "проверка не пройдена, поля различаются:";
    }
    return finish(e);
}

PortJob::Result PortJob::write(const ParameterImage& image, bool verify) {
    clear();
    written_ = image;
    if (!open()) return Result::Failed;
    Ended e = exchange(opConnect);
    // What identifies the device first (a few bytes): only one that keeps values it holds is
    // read whole, to see whether it holds the rest of its configuration too.
    bool kept = false;
    if (e == Ended::Success && keep_ && !interrupted_) {
        checking_ = true;
        e = exchange(opRead, nullptr, identityRanges_);
        checking_ = false;
        kept = e == Ended::Success && keep_(block_, written_);
    }
    if (e == Ended::Success && recognise_ && (kept || !keep_) && !interrupted_) {
        checking_ = true;
        e = exchange(opRead);
        checking_ = false;
        if (e == Ended::Success && recognise_(block_, written_)) {
            finish(e);
            return Result::Held;
        }
    }
    if (e == Ended::Success && beforeWrite_ && !kept && !interrupted_) {
        error_ = beforeWrite_(written_);
        if (!error_.empty()) e = Ended::Failure;
    }
    if (e == Ended::Success) e = exchange(opWrite, &written_);
    if (e == Ended::Success && verify) return readAndCompare(written_);
    return finish(e);
}

PortJob::Result PortJob::verify(const ParameterImage& image) {
    clear();
    if (!open()) return Result::Failed;
    const Ended e = exchange(opConnect);
    if (e != Ended::Success) return finish(e);
    return readAndCompare(image);
}

void PortJob::PostStatus(const std::string& text) {
    touch();
    if (!quiet_) listener_.state(index_, PortState::Working, text);
}

void PortJob::ReportIoError(std::uint32_t code) {
    touch();
    failedKind_ = MakeSysError(code).kind;
    setSystemError(code);
    if (!quiet_)
        listener_.state(index_, PortState::Working, (systemWords_ ? texts::kErrorPrefix : "") + error_);
}

void PortJob::DeliverBlock(const Block& block) {
    touch();
    std::copy(block.begin(), block.end(), block_.begin());
}

void PortJob::identified(const std::string& line) {
    ident_ = line;
    replyTime_ = std::chrono::ceil<std::chrono::milliseconds>(Clock::now() - exchangeStart_);
}

void PortJob::progress(Operation op, int percent) {
    touch();
    // A write's share is told as its next chunk goes out (again at each try of a refused one): what
    // the device has taken, for the words on where it fell silent, is the share before that chunk.
    if (op == opWrite && percent != sending_) {
        taken_ = sending_;
        sending_ = percent;
    }
    percent_ = op == opWrite ? taken_ : percent;
    if (op == opWrite) wroteSomething_ = true; // the chunk goes out next
    listener_.share(index_, percent);
}

void PortJob::chunkRejected(std::size_t address) {
    touch();
    if (rejections_ == 0 || address != rejectedAt_) rejections_ = 0;
    rejectedAt_ = address;
    if (++rejections_ > options_.retries && !gaveUp_) {
        gaveUp_ = true;
        link_.requestStop();
    }
}

void PortJob::exchangeEnded(Operation, const ExchangeEnd& end) {
    outcome_ = end;
}

} // namespace tk7v::station
