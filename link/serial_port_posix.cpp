// The serial port's POSIX system calls: open with TIOCEXCL and flock, termios, poll on the port
// and the stop and close signals, tcdrain bounded on a helper, the saved termios back on close.
// What only Linux has (its serial driver's low-latency flag, ppoll) is used on Linux alone; what
// only some systems' termios have (mark and space parity, hardware handshake, the speeds past
// 115200) wherever it is defined. TK7V_POSIX_WITHOUT_LINUX builds the file as another POSIX
// system would, for the check that keeps it building there.
#include "link/serial_port_posix.h"

#include "link/serial_core.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#if defined(__linux__) && !defined(TK7V_POSIX_WITHOUT_LINUX)
#define TK7V_LINUX 1
#include <linux/serial.h>
#endif

namespace tk7v {

namespace {

speed_t speedFor(std::uint32_t baud) {
    switch (baud) {
    case 110:
        return B110;
    case 300:
        return B300;
    case 600:
        return B600;
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
#ifdef B230400
    case 230400:
        return B230400;
#endif
#ifdef B460800
    case 460800:
        return B460800;
#endif
#ifdef B921600
    case 921600:
        return B921600;
#endif
    default:
        return B0;
    }
}

// A pseudo-terminal or a plain file has no modem lines; asking for them is not an error.
bool noModemLines(int err) {
    return err == ENOTTY || err == EINVAL;
}

// Mark and space parity and the hardware handshake are not POSIX; where termios has no flag for
// one, a configuration that asks for it cannot be expressed.
#ifdef CMSPAR
constexpr tcflag_t kStickParity = CMSPAR;
#else
constexpr tcflag_t kStickParity = 0;
#endif
#ifdef CRTSCTS
constexpr tcflag_t kHandshake = CRTSCTS;
#else
constexpr tcflag_t kHandshake = 0;
#endif

} // namespace

bool TermiosFor(const PortConfig& config, termios& t) {
    const speed_t speed = speedFor(config.baudRate);
    if (speed == B0 || config.byteSize < 5 || config.byteSize > 8) return false;
    const bool stick =
        config.parity == PortConfig::Parity::Mark || config.parity == PortConfig::Parity::Space;
    const bool handshake = config.outxCtsFlow && config.rtsControl == PortConfig::RtsControl::Handshake;
    if ((stick && kStickParity == 0) || (handshake && kHandshake == 0)) return false;
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | kStickParity | CSTOPB | kHandshake | HUPCL);
    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= sizes[config.byteSize - 5];
    switch (config.parity) {
    case PortConfig::Parity::None:
        break;
    case PortConfig::Parity::Odd:
        t.c_cflag |= PARENB | PARODD;
        break;
    case PortConfig::Parity::Even:
        t.c_cflag |= PARENB;
        break;
    case PortConfig::Parity::Mark:
        t.c_cflag |= PARENB | kStickParity | PARODD;
        break;
    case PortConfig::Parity::Space:
        t.c_cflag |= PARENB | kStickParity;
        break;
    }
    if (config.stopBits != PortConfig::StopBits::One) t.c_cflag |= CSTOPB;
    // RTS belongs to the worker (it raises the line itself), so hardware handshake is only
    // possible when the settings hand RTS to the driver; the open always takes it back.
    if (handshake) t.c_cflag |= kHandshake;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (config.outX) t.c_iflag |= IXON;
    if (config.inX) t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = config.xonChar;
    t.c_cc[VSTOP] = config.xoffChar;
    // No time-outs: a read completes when all its bytes have arrived (the waits do that).
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    return true;
}

bool RequestLowLatency([[maybe_unused]] int fd, [[maybe_unused]] int (*ioctlFn)(int, unsigned long, void*)) {
#ifdef TK7V_LINUX
    // USB adapters hold short replies back for their latency timer (16 ms on common FTDI chips);
    // the flag asks the driver to pass them on at once. Drivers that do not know the request,
    // and pseudo-terminals, refuse it harmlessly.
    serial_struct ss{};
    if (ioctlFn(fd, TIOCGSERIAL, &ss) != 0) return false;
    ss.flags |= ASYNC_LOW_LATENCY;
    ioctlFn(fd, TIOCSSERIAL, &ss);
    return true;
#else
    return false; // a request only Linux's serial drivers know
#endif
}

bool DrainOutput(int fd, std::chrono::milliseconds bound, const CloseCalls& calls) {
    // tcdrain has no time-out of its own, and an adapter that is dead or held by flow control
    // can keep it waiting for ever. It runs with a descriptor of its own, so that a drain the
    // driver does not end even after the output is discarded touches nothing of the port's.
    const int own = calls.dup(fd);
    if (own < 0) return false;
    return RunBounded(
        [own, drain = calls.drain, closeFd = calls.close] {
            const bool ok = drain(own) == 0;
            closeFd(own);
            return ok;
        },
        [&] { calls.flush(fd); }, bound);
}

const CloseCalls& SystemCloseCalls() {
    static const CloseCalls calls{
        [](int fd) { return ::dup(fd); },
        [](int fd) { return ::tcdrain(fd); },
        [](int fd) { return ::tcflush(fd, TCOFLUSH); },
        [](int fd, const termios& saved) {
            ::ioctl(fd, TIOCNXCL);
            return ::tcsetattr(fd, TCSANOW, &saved);
        },
        [](int fd) { return ::close(fd); },
    };
    return calls;
}

int CloseAfterDrain(int fd, const termios& saved, std::chrono::milliseconds bound, const CloseCalls& calls) {
    // What was written last (the "RESET\r" of a disconnect) must leave at the speed it was
    // written with before the previous settings come back. A bound of zero: it has left already.
    if (bound.count() > 0) DrainOutput(fd, bound, calls);
    calls.restore(fd, saved);
    if (calls.close(fd) == 0) return 0;
    // EINTR leaves the descriptor closed on Linux; only other failures count.
    return errno == EINTR ? 0 : errno;
}

namespace {

class PosixPort : public SystemPort {
public:
    explicit PosixPort(const WakeSignal& closing) : closing_(static_cast<int>(closing.nativeHandle())) {}

    std::uint32_t notOpenCode() const override { return EBADF; }
    bool isOpen() const override { return fd_ >= 0; }
    bool lowLatencyRequested() const override { return lowLatencyRequested_; }

    SerialPort::OpenResult open(const std::string& path, const PortConfig& config) override {
        using OpenResult = SerialPort::OpenResult;
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return {OpenResult::OpenFailed, MakeSysError(static_cast<std::uint32_t>(errno))};
        // Whether it is a terminal at all is asked before the lock: a device that is no serial
        // port (/dev/null) is named so, not called busy because another program locked it.
        if (!::isatty(fd)) {
            const int err = errno;
            ::close(fd);
            return {OpenResult::ConfigFailed, MakeSysError(static_cast<std::uint32_t>(err))};
        }
        // Two locks: TIOCEXCL turns away later opens by any program, flock another configurator
        // that opened the port first.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return {OpenResult::OpenFailed, MakeSysError(EBUSY)};
        }
        if (::tcgetattr(fd, &saved_) != 0) {
            const int err = errno;
            ::close(fd);
            return {OpenResult::ConfigFailed, MakeSysError(static_cast<std::uint32_t>(err))};
        }
        // The flock above already keeps other configurators out; a driver that refuses TIOCEXCL
        // only lets programs that take no lock in, so its result is not looked at.
        ::ioctl(fd, TIOCEXCL);
        termios t = saved_;
        const bool expressible = TermiosFor(config, t);
        if (!expressible || ::tcsetattr(fd, TCSANOW, &t) != 0) {
            const int err = expressible ? errno : EINVAL;
            ::ioctl(fd, TIOCNXCL);
            ::close(fd);
            return {OpenResult::ConfigFailed, MakeSysError(static_cast<std::uint32_t>(err))};
        }
        int lines = TIOCM_DTR | TIOCM_RTS;
        // A pseudo-terminal has no modem lines and refuses this; a real port has its lines low.
        ::ioctl(fd, TIOCMBIC, &lines);
        owed_ = 0;
        characterTime_ = config.characterTime();
        lowLatencyRequested_ = RequestLowLatency(
            fd, [](int f, unsigned long request, void* arg) { return ::ioctl(f, request, arg); });
        fd_ = fd;
        return {};
    }

    bool outputHeld() const override {
        int queued = 0;
        return ::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued > 0;
    }

    SysError close(std::chrono::milliseconds drainBound) override {
        const int err = CloseAfterDrain(fd_, saved_, drainBound, SystemCloseCalls());
        fd_ = -1;
        return MakeSysError(static_cast<std::uint32_t>(err));
    }

    SysError purge(std::chrono::milliseconds drainBound) override {
        if (drainBound.count() > 0) DrainOutput(fd_, drainBound, SystemCloseCalls());
        if (::tcflush(fd_, TCIOFLUSH) != 0) return MakeSysError(static_cast<std::uint32_t>(errno));
        return {};
    }

    std::size_t discardInput() override {
        // With nothing waiting there is nothing to discard: a byte that arrives after the look
        // is one that would have arrived after the flush.
        int waiting = 0;
        if (::ioctl(fd_, FIONREAD, &waiting) != 0 || waiting > 0) ::tcflush(fd_, TCIFLUSH);
        return static_cast<std::size_t>(std::max(waiting, 0));
    }

    SysError setRts(bool on) override {
        int bits = TIOCM_RTS;
        if (::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bits) != 0 && !noModemLines(errno))
            return MakeSysError(static_cast<std::uint32_t>(errno));
        return {};
    }

    void expect(std::size_t bytes, std::chrono::microseconds soonest,
                std::chrono::microseconds within) override {
        const auto now = std::chrono::steady_clock::now();
        owed_ = bytes;
        owedFrom_ = now + soonest;
        owedBy_ = now + within;
    }

    IoStatus readSome(std::span<std::uint8_t> into, const StopSignal& stop, std::size_t& got) override {
        short revents = 0;
        for (;;) {
            if (stop.requested()) return IoStatus::stopped();
            const IoStatus waited = awaitRest(stop);
            if (waited.kind != IoStatus::Ok) return waited;
            const ssize_t n = ::read(fd_, into.data(), into.size());
            if (n > 0) {
                got = static_cast<std::size_t>(n);
                owed_ = owed_ > got ? owed_ - got : 0;
                return IoStatus::ok();
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return IoStatus::failed(static_cast<std::uint32_t>(errno));
            // Nothing to read after poll reported a hang-up: the device is gone. Reported once,
            // never retried, so an unplugged adapter cannot make this loop spin.
            if (revents & (POLLHUP | POLLERR)) return IoStatus::failed(EIO);
            const IoStatus s = waitFor(POLLIN, &stop, &revents);
            if (s.kind != IoStatus::Ok) return s;
        }
    }

    IoStatus writeSome(std::span<const std::uint8_t> bytes, const StopSignal* stop,
                       std::size_t& sent) override {
        for (;;) {
            if (stop && stop->requested()) return IoStatus::stopped();
            const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
            if (n > 0) {
                sent = static_cast<std::size_t>(n);
                return IoStatus::ok();
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return IoStatus::failed(static_cast<std::uint32_t>(errno));
            short revents = 0;
            const IoStatus s = waitFor(POLLOUT, stop, &revents);
            if (revents & (POLLHUP | POLLERR)) return IoStatus::failed(EIO);
            if (s.kind != IoStatus::Ok) return s;
        }
    }

private:
    // A reply of known length comes at the line's pace. Until the line can have carried it
    // there is nothing to look at, and once its first bytes are here the rest is waited for as
    // one span: both waits are woken only by a stop or a close, never by a byte. At 9600 baud a
    // byte arrives every millisecond, and a station of 32 ports woken for each would wake
    // 32 000 times a second. Neither wait goes past when the reply is due, so a shorter reply or
    // noise is still seen; what is missing then is taken as it comes.
    IoStatus awaitRest(const StopSignal& stop) {
        if (owed_ == 0 || characterTime_.count() == 0) return IoStatus::ok();
        if (owedFrom_ > std::chrono::steady_clock::now()) {
            const IoStatus s = pause(owedFrom_, stop);
            if (s.kind != IoStatus::Ok) return s;
        }
        const auto now = std::chrono::steady_clock::now();
        int waiting = 0;
        if (owed_ < 2 || now >= owedBy_ || ::ioctl(fd_, FIONREAD, &waiting) != 0 || waiting <= 0 ||
            static_cast<std::size_t>(waiting) >= owed_)
            return IoStatus::ok();
        const auto rest = characterTime_ * static_cast<long>(owed_ - static_cast<std::size_t>(waiting));
        owed_ = 0; // one span only: what is still missing is taken as it comes
        return pause(now + rest, stop);
    }

    // Waits until `until` (never past when the awaited reply is due), woken only by a stop or a
    // close.
    IoStatus pause(std::chrono::steady_clock::time_point until, const StopSignal& stop) {
        owedFrom_ = {};
        const auto ns = std::chrono::ceil<std::chrono::nanoseconds>(std::min(until, owedBy_) -
                                                                    std::chrono::steady_clock::now());
        if (ns.count() <= 0) return IoStatus::ok();
        pollfd p[2] = {{closing_, POLLIN, 0}, {static_cast<int>(stop.nativeHandle()), POLLIN, 0}};
#ifdef TK7V_LINUX
        const timespec timeout{static_cast<time_t>(ns.count() / 1'000'000'000),
                               static_cast<long>(ns.count() % 1'000'000'000)};
        while (::ppoll(p, 2, &timeout, nullptr) < 0 && errno == EINTR) {
        }
#else
        // poll counts whole milliseconds: rounded up, the wait does not end before the bytes can
        // have come.
        const int ms = static_cast<int>((ns.count() + 999'999) / 1'000'000);
        while (::poll(p, 2, ms) < 0 && errno == EINTR) {
        }
#endif
        if (stop.requested() || p[0].revents) return IoStatus::stopped();
        return IoStatus::ok();
    }

    IoStatus waitFor(short events, const StopSignal* stop, short* revents) const {
        pollfd p[3] = {{fd_, events, 0},
                       {closing_, POLLIN, 0},
                       {stop ? static_cast<int>(stop->nativeHandle()) : -1, POLLIN, 0}};
        for (;;) {
            if (stop && stop->requested()) return IoStatus::stopped();
            const int rc = ::poll(p, stop ? 3 : 2, -1);
            if (rc < 0) {
                if (errno == EINTR) continue;
                return IoStatus::failed(static_cast<std::uint32_t>(errno));
            }
            if ((stop && stop->requested()) || p[1].revents) return IoStatus::stopped();
            if (p[0].revents & POLLNVAL) return IoStatus::failed(EBADF);
            *revents = p[0].revents;
            if (p[0].revents) return IoStatus::ok(); // ready, or hung up: the call that follows tells
        }
    }

    int closing_;
    int fd_ = -1;
    termios saved_{};
    std::chrono::microseconds characterTime_{0};
    // What the awaited reply still owes, not before owedFrom_ and by owedBy_ (the reader's thread).
    std::size_t owed_ = 0;
    std::chrono::steady_clock::time_point owedFrom_{}, owedBy_{};
    bool lowLatencyRequested_ = false;
};

} // namespace

std::unique_ptr<SystemPort> SystemPort::create(const WakeSignal& closing) {
    return std::make_unique<PosixPort>(closing);
}

} // namespace tk7v
