#include "pace.h"

#include <algorithm>
#include <vector>

namespace tk7v::sim {

Pace::Pace(long baud, std::chrono::milliseconds turnaround, LineEnd& end)
    : byteTime_(baud > 0 ? std::chrono::nanoseconds(10'000'000'000LL / baud) : std::chrono::nanoseconds(0)),
      turnaround_(turnaround), end_(end) {}

void Pace::restart() {
    toDevice_.clear();
    toProgram_.clear();
    now_ = lastReplyByte_ = inFree_ = outFree_ = arrivedAt_ = {};
    replied_ = false;
}

void Pace::written(Device& device, std::span<const std::uint8_t> bytes, Clock::time_point now) {
    now_ = now;
    if (replied_ && !device.midCommand() && toDevice_.empty()) {
        // A program may answer on a reply's CR while its LF is still on the line.
        const auto gap = std::max(now - lastReplyByte_, Clock::duration::zero());
        end_.answeredAfter(std::chrono::duration_cast<std::chrono::microseconds>(gap));
        replied_ = false;
    }
    for (const std::uint8_t b : bytes) {
        inFree_ = std::max(now, inFree_) + byteTime_;
        toDevice_.push_back({b, inFree_});
    }
    step(device, now);
}

// As a UART driver's purge throws away its transmit queue. This side learns of bytes and of purges
// only when it gets to read them, and may read the bytes late on a busy machine: what was due to
// arrive within a few characters counts as crossed. A purge that does not wait for a chunk still
// cuts it, since most of the chunk is due far later.
void Pace::outputPurged(Device& device, Clock::time_point now) {
    step(device, now);
    deliver(device,
            now + std::max(std::chrono::duration_cast<Clock::duration>(byteTime_ * 5),
                           std::chrono::duration_cast<Clock::duration>(std::chrono::milliseconds(10))));
    toDevice_.clear();
    inFree_ = now;
}

void Pace::step(Device& device, Clock::time_point now) {
    now_ = now;
    deliver(device, now);
    std::string out;
    while (!toProgram_.empty() && toProgram_.front().due <= now) {
        out += static_cast<char>(toProgram_.front().byte);
        toProgram_.pop_front();
    }
    if (!out.empty()) end_.toProgram(out, now);
}

void Pace::deliver(Device& device, Clock::time_point until) {
    std::vector<std::uint8_t> arrived;
    Clock::time_point lastDue{};
    while (!toDevice_.empty() && toDevice_.front().due <= until) {
        lastDue = toDevice_.front().due;
        arrived.push_back(toDevice_.front().byte);
        toDevice_.pop_front();
    }
    if (arrived.empty()) return;
    arrivedAt_ = lastDue;
    device.hear(arrived, *this);
}

// To the microsecond, as a line delivers its bytes: a wait rounded up to the millisecond would send
// a reply up to a millisecond after its time, each burst late by a different amount.
std::optional<Clock::duration> Pace::nextDue(Clock::time_point now) const {
    Clock::time_point next = Clock::time_point::max();
    if (!toDevice_.empty()) next = toDevice_.front().due;
    if (!toProgram_.empty()) next = std::min(next, toProgram_.front().due);
    if (next == Clock::time_point::max()) return std::nullopt;
    return std::max(next - now, Clock::duration::zero());
}

void Pace::sendEndlessChunk(Device& device, Clock::time_point now) {
    now_ = now;
    send(device.endlessChunk(), now);
}

// Timed from when the command reached the device, as a device's own clock would: the time this
// process took to get to it (a busy machine, the memory file written first) is not the device's.
void Pace::reply(const std::string&, const std::string& bytes) {
    send(bytes, arrivedAt_, turnaround_);
    replied_ = true;
}

// An answer leaves at the line's pace, `delay` (the device's turnaround) after `from`.
void Pace::send(const std::string& bytes, Clock::time_point from, std::chrono::milliseconds delay) {
    if (byteTime_.count() == 0 && delay.count() == 0 && toProgram_.empty()) {
        lastReplyByte_ = end_.toProgram(bytes, now_);
        return;
    }
    auto next = std::max(from + delay, outFree_);
    for (char c : bytes) {
        next += byteTime_;
        toProgram_.push_back({static_cast<std::uint8_t>(c), next});
    }
    outFree_ = lastReplyByte_ = next;
}

} // namespace tk7v::sim
