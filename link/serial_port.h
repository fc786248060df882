#pragma once
// The serial port on POSIX: exclusive open, raw termios, purge, RTS, and reads and writes that
// end at once on a stop request.
//
// Threads: one worker reads and writes while the window thread may purge and write its own
// bytes ("RESET\r" on disconnect) on the same port; writes never interleave. close() wakes any
// wait in progress and returns once no other thread is inside the port, so the descriptor is
// never used after it is closed (or reused by another open).
#include "link/channel.h"
#include "link/port_config.h"
#include "link/system_error.h"

#include <chrono>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <termios.h>

namespace tk7v {

class SerialPort : public Channel {
public:
    SerialPort();
    ~SerialPort() override;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    struct OpenResult {
        enum Stage { Opened, OpenFailed, ConfigFailed } stage = Opened;
        SysError error;
    };
    // Opens the port exclusively and applies the settings; DTR and RTS are low afterwards.
    // OpenFailed: the port could not be opened (missing, busy, no access). ConfigFailed: the
    // port opened but refused the settings; it is closed again.
    OpenResult open(const std::string& path, const PortConfig& config);
    bool isOpen() const;
    const std::string& path() const { return path_; }
    // Waits (at most kDrainBound) until what was written has left the port, restores the port's
    // previous settings and closes it.
    SysError close();
    static constexpr std::chrono::milliseconds kDrainBound{1000};

    // Discards what waits in both directions.
    SysError purge();
    // Sets or clears RTS. A port without modem lines (a pseudo-terminal) is not an error.
    SysError setRts(bool on);
    // Whether the driver was asked for low latency at the last open (a driver may refuse).
    bool lowLatencyRequested() const { return lowLatencyRequested_; }

    IoStatus read(std::span<std::uint8_t> into, const StopSignal& stop) override;
    IoStatus write(std::span<const std::uint8_t> bytes, const StopSignal& stop) override;
    // A write from a thread without a stop signal of its own; ends when the port is closed.
    IoStatus write(std::span<const std::uint8_t> bytes);
    void raiseRts() override { setRts(true); }

private:
    IoStatus waitFor(short events, const StopSignal* stop, short* revents);
    IoStatus writeLocked(std::span<const std::uint8_t> bytes, const StopSignal* stop);

    mutable std::shared_mutex ioLock_; // shared: an operation in progress; exclusive: open/close
    std::mutex writeMutex_;
    int fd_ = -1;
    int closeFd_ = -1; // eventfd that wakes waits when the port is being closed
    std::string path_;
    termios saved_{};
    bool lowLatencyRequested_ = false;
};

// Asks the driver of an open port for low latency through ioctlFn (::ioctl in the port). True
// when the driver knew the request; a refusal is harmless.
bool RequestLowLatency(int fd, int (*ioctlFn)(int, unsigned long, void*));

// The calls that closing a port makes; the system's in the port, recording ones in tests.
struct CloseCalls {
    int (*dup)(int fd);
    int (*drain)(int fd);
    int (*flush)(int fd); // discards the output, which ends a drain in progress
    int (*restore)(int fd, const termios& saved);
    int (*close)(int fd);
};
const CloseCalls& SystemCloseCalls();
// Waits until the bytes written to fd have left it, for at most about `bound`: past it the
// output is discarded. True when everything left.
bool DrainOutput(int fd, std::chrono::milliseconds bound, const CloseCalls& calls);
// Drains (bounded), restores the saved settings, closes. 0, or the close's errno.
int CloseAfterDrain(int fd, const termios& saved, std::chrono::milliseconds bound, const CloseCalls& calls);

// Termios settings for a configuration. False when the configuration cannot be expressed.
bool TermiosFor(const PortConfig& config, termios& t);

} // namespace tk7v
