#pragma once
// The byte channel a transfer worker talks over. The serial port is one; tests provide others.
#include "link/stop_signal.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

namespace tk7v {

struct IoStatus {
    enum Kind { Ok, Stopped, Failed } kind = Ok;
    std::uint32_t code = 0; // the system's error code when Failed
    static IoStatus ok() { return {}; }
    static IoStatus stopped() { return {Stopped, 0}; }
    static IoStatus failed(std::uint32_t code) { return {Failed, code}; }
};

class Channel {
public:
    virtual ~Channel() = default;
    // Completes only when every byte has arrived, a stop is requested or the channel fails.
    // A purge of the port does not end it.
    virtual IoStatus read(std::span<std::uint8_t> into, const StopSignal& stop) = 0;
    // Completes once at least one byte has arrived (or as read() ends), with what the channel
    // holds by then, at most into.size() bytes; `got` says how many. A channel that cannot tell
    // what it holds delivers one byte at a time.
    virtual IoStatus readSome(std::span<std::uint8_t> into, const StopSignal& stop, std::size_t& got) {
        got = 0;
        const IoStatus s = read(into.first(1), stop);
        if (s.kind == IoStatus::Ok) got = 1;
        return s;
    }
    // Completes when every byte has gone, a stop is requested or the channel fails.
    virtual IoStatus write(std::span<const std::uint8_t> bytes, const StopSignal& stop) = 0;
    // Raises RTS; a channel without modem lines ignores it.
    virtual void raiseRts() = 0;
    // Throws away what has arrived and not been read yet; how many bytes that was. Nothing that
    // arrived before a command has gone out can be that command's answer.
    virtual std::size_t discardInput() { return 0; }
    // How long one character takes on the line at its settings; zero for a channel that is not
    // paced by a line (nothing can still be on its way there).
    virtual std::chrono::microseconds characterTime() const { return {}; }
    // What the reader awaits next: `bytes` bytes (a reply of known length), due within about
    // `within`, and not all here before `soonest` has passed (the time the line needs to carry
    // the command and them). A channel may then leave the port alone until `soonest` and wake its
    // reader once for all of them rather than once a byte; fewer (a short reply, noise) still
    // arrive once `within` has passed. Ignoring it is correct.
    virtual void expect(std::size_t /*bytes*/, std::chrono::microseconds /*soonest*/,
                        std::chrono::microseconds /*within*/) {}
};

} // namespace tk7v
