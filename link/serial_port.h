#pragma once
// The serial port: exclusive open with the line settings, purge, RTS, and reads and writes that
// end at once on a stop request. One header for every platform; serial_port_posix.cpp and
// serial_port_win32.cpp hold the two sides.
//
// Threads: one worker reads and writes while the window thread may purge and write its own
// bytes ("RESET\r" on disconnect) on the same port; writes never interleave, and a purge waits
// for a write in progress. close() wakes any
// wait in progress and returns once no other thread is inside the port, so the OS handle is
// never used after it is closed (or reused by another open).
#include "link/channel.h"
#include "link/port_config.h"
#include "link/system_error.h"

#include <chrono>
#include <memory>
#include <string>

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
    // Waits (at most kDrainBound) until what was written has left the port, restores the port's
    // previous settings and closes it.
    SysError close();
    static constexpr std::chrono::milliseconds kDrainBound{1000};

    // Discards what waits in both directions. What was already written leaves first (a chunk in
    // progress is finished, then the output drains, at most kDrainBound): a real port holds
    // written bytes until they have left at the line's pace, and discarding them would cut a
    // command short, so that the device took whatever came next as the rest of it.
    SysError purge();
    // Discards what has arrived and not been read; how many bytes that was.
    std::size_t discardInput() override;
    // One character's time at the settings of the last open.
    std::chrono::microseconds characterTime() const override;
    // The worker's thread, before it waits for a reply of that many bytes.
    void expect(std::size_t bytes, std::chrono::microseconds soonest,
                std::chrono::microseconds within) override;
    // Sets or clears RTS. A port without modem lines (a pseudo-terminal) is not an error.
    SysError setRts(bool on);
    // Whether the driver was asked for low latency at the last open (a driver may refuse).
    bool lowLatencyRequested() const;

    IoStatus read(std::span<std::uint8_t> into, const StopSignal& stop) override;
    IoStatus readSome(std::span<std::uint8_t> into, const StopSignal& stop, std::size_t& got) override;
    IoStatus write(std::span<const std::uint8_t> bytes, const StopSignal& stop) override;
    // A write from a thread without a stop signal of its own; a close fails it.
    IoStatus write(std::span<const std::uint8_t> bytes);
    void raiseRts() override { setRts(true); }

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

} // namespace tk7v
