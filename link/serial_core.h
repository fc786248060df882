#pragma once
// Inside the serial port: what every OS does alike lives once in serial_port.cpp (the locks, the
// open and close order, the loops that move every byte, the wrappers), and each OS file gives it
// a SystemPort holding only its system calls. Only the serial port and its tests use this header.
#include "link/channel.h"
#include "link/serial_port.h"
#include "link/wake_signal.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace tk7v {

// The port as the system sees it. serial_port.cpp calls it under its locks: open and close
// alone, everything else possibly from two threads at once (the worker's read beside the
// window's purge or write; never two writes).
class SystemPort {
public:
    // This OS's port; every wait it makes also ends once `closing` is signalled.
    static std::unique_ptr<SystemPort> create(const WakeSignal& closing);

    virtual ~SystemPort() = default;
    // This OS's code for "the port is not open" (the answer of a call after a close).
    virtual std::uint32_t notOpenCode() const = 0;
    virtual bool isOpen() const = 0;
    // Opens exclusively, applies the settings, leaves DTR and RTS low.
    virtual SerialPort::OpenResult open(const std::string& path, const PortConfig& config) = 0;
    // Waits (at most about drainBound) for the output to leave, restores the settings found at
    // open and closes. A bound of zero: nothing is left to wait for, and no helper is started.
    virtual SysError close(std::chrono::milliseconds drainBound) = 0;
    // Whether the driver may still hold written bytes; a port that cannot tell says so.
    virtual bool outputHeld() const { return true; }
    // Waits (at most about drainBound; with a bound of zero not at all, as close does) for the
    // output to leave, then discards both directions.
    virtual SysError purge(std::chrono::milliseconds drainBound) = 0;
    // Discards the input; how many bytes were waiting.
    virtual std::size_t discardInput() = 0;
    // A port without modem lines answers with no error.
    virtual SysError setRts(bool on) = 0;
    // Moves at least one byte (or none, after a purge ended the wait), waiting as long as it
    // takes; ends early on a stop (a write without a stop signal passes null) or a close.
    virtual IoStatus readSome(std::span<std::uint8_t> into, const StopSignal& stop, std::size_t& got) = 0;
    virtual IoStatus writeSome(std::span<const std::uint8_t> bytes, const StopSignal* stop,
                               std::size_t& sent) = 0;
    virtual bool lowLatencyRequested() const { return false; }
    // The next readSome may leave the port alone until `soonest` has passed and then wait until
    // `bytes` have arrived, but not beyond `within`.
    virtual void expect(std::size_t /*bytes*/, std::chrono::microseconds /*soonest*/,
                        std::chrono::microseconds /*within*/) {}
};

// What makes the system side of each port made from now on: this OS's while it is null. Tests put
// a fake of their own in its place (a line that flow control holds up); the one replaced is given
// back to be put back.
using SystemPortMaker = std::function<std::unique_ptr<SystemPort>(const WakeSignal& closing)>;
SystemPortMaker ReplaceSystemPortMaker(SystemPortMaker maker);

// How long a call cancelled by RunBounded still gets to return before it is left alone.
inline constexpr std::chrono::milliseconds kCancelGrace{100};

// Runs `work` on a helper thread and waits for it at most `bound`. Past the bound `cancel` runs
// here (it should make the work end, as discarding the output ends a drain), and the work gets
// kCancelGrace more. A helper that has still not returned is left to finish alone, so `work`
// must own everything it touches. True when the work returned true in time.
bool RunBounded(std::function<bool()> work, const std::function<void()>& cancel,
                std::chrono::milliseconds bound);

} // namespace tk7v
