#pragma once
// The line between a program's port and the device plugged at its end, at the line's pace: 10 bits
// a byte at the given baud (no delay at all without one). What the program writes waits in its
// port's transmit queue and reaches the device a byte time apart; the device's replies leave its
// turnaround after the command arrived, a byte time apart. Time is always handed in (`now`), so
// the line can be driven by a clock or by a test. One thread at a time.
#include "device.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>

namespace tk7v::sim {

using Clock = std::chrono::steady_clock;

// The program's side of the line, and what is recorded of it.
class LineEnd {
public:
    virtual ~LineEnd() = default;
    // Bytes that have crossed the line to the program's port, handed over at `now`; returns when
    // the last of them had gone (a port nobody reads can hold them up).
    virtual Clock::time_point toProgram(const std::string& bytes, Clock::time_point now) = 0;
    virtual void note(const std::string& line) { (void)line; }
    // The program answered a reply: how long after the reply's last byte its next command began.
    virtual void answeredAfter(std::chrono::microseconds gap) { (void)gap; }
    // The device has ended (see DeviceHost::died).
    virtual void died() {}
};

class Pace : private DeviceHost {
public:
    // `end` outlives the pace. A baud of 0 is a line without delays.
    Pace(long baud, std::chrono::milliseconds turnaround, LineEnd& end);

    // A new device at the cable's end: nothing of the last one's is on the line any more.
    void restart();

    // The program has written bytes to its port.
    void written(Device& device, std::span<const std::uint8_t> bytes, Clock::time_point now);
    // The program purged its output: what has not crossed the line yet is gone.
    void outputPurged(Device& device, Clock::time_point now);
    // Moves what is due by `now`: bytes that have crossed to the device, replies to the program.
    void step(Device& device, Clock::time_point now);
    // How long after `now` the next byte is due, or nothing when nothing waits.
    std::optional<Clock::duration> nextDue(Clock::time_point now) const;
    // Whether a reply is still on its way to the program.
    bool sending() const { return !toProgram_.empty(); }
    // The next chunk of an endless identification, once the line is free (see Device).
    void sendEndlessChunk(Device& device, Clock::time_point now);

private:
    struct Timed {
        std::uint8_t byte;
        Clock::time_point due;
    };

    void deliver(Device& device, Clock::time_point until);
    void send(const std::string& bytes, Clock::time_point from, std::chrono::milliseconds delay = {});
    void reply(const std::string& command, const std::string& bytes) override;
    void note(const std::string& line) override { end_.note(line); }
    void died() override { end_.died(); }

    const std::chrono::nanoseconds byteTime_;
    const std::chrono::milliseconds turnaround_;
    LineEnd& end_;
    std::deque<Timed> toDevice_, toProgram_;
    Clock::time_point now_{}; // the time of the call being carried out
    Clock::time_point lastReplyByte_{};
    bool replied_ = false;
    Clock::time_point inFree_{}, outFree_{};
    Clock::time_point arrivedAt_{}; // when the last byte handed to the device reached it
};

} // namespace tk7v::sim
