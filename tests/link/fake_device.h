#pragma once
// An in-memory ТК-7В behind the Channel interface, for driving the worker without a port.
// Replies are computed as the worker writes; a read waits (for a stop) when nothing is left.
#include "link/channel.h"

#include <cerrno>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace tk7v::test {

class FakeDevice : public Channel {
public:
    FakeDevice() { memory.fill(0xFF); }

    std::array<std::uint8_t, 512> memory;
    std::string ident = "TK7V v1.0";
    std::vector<std::string> preamble;
    bool silent = false;
    int rejectWrites = 0;
    std::uint32_t failReadWith = 0; // after this many reads, fail with this code
    int failAfterReads = -1;
    std::string written; // everything the worker wrote, in order
    int rtsRaised = 0;
    std::function<std::string(const std::string& command)> replyOverride;
    int answers = -1; // answer this many commands, then fall silent
    int doubled = 0;  // answer this many commands twice
    std::string late; // still on the line when the worker first looks: it arrives after that look
    std::chrono::microseconds character{0}; // a line's pace, for the worker's waits; bytes come at once
    std::function<void()> onBlock;          // runs when a read starts waiting for bytes that never come

    IoStatus read(std::span<std::uint8_t> into, const StopSignal& stop) override {
        if (failAfterReads >= 0 && reads_++ >= failAfterReads) return IoStatus::failed(failReadWith);
        if (rx_.size() < into.size()) {
            if (onBlock) onBlock();
            while (!stop.waitFor(std::chrono::hours(1))) {
            }
            return IoStatus::stopped();
        }
        for (auto& b : into) {
            b = rx_.front();
            rx_.pop_front();
        }
        return IoStatus::ok();
    }

    std::function<void(int writes)> onWrite; // runs after each write, with the count so far

    IoStatus write(std::span<const std::uint8_t> bytes, const StopSignal& stop) override {
        if (stop.requested()) return IoStatus::stopped();
        written.append(bytes.begin(), bytes.end());
        if (onWrite) onWrite(++writes_);
        pending_.append(bytes.begin(), bytes.end());
        parse();
        return IoStatus::ok();
    }

    void raiseRts() override { ++rtsRaised; }
    std::size_t discardInput() override {
        const std::size_t n = rx_.size();
        rx_.clear();
        send(late);
        late.clear();
        return n;
    }
    std::chrono::microseconds characterTime() const override { return character; }

    void send(const std::string& s) { rx_.insert(rx_.end(), s.begin(), s.end()); }

    // The data reply the device gives a read command ("x", count, address, CR).
    std::string dataReplyFor(const std::string& command) const {
        return dataReply(command[1] - 0x60, hex(command[2]) * 256 + hex(command[3]) * 16 + hex(command[4]));
    }

private:
    static int hex(char c) { return c <= '9' ? c - '0' : c - 'A' + 10; }

    void answer(const std::string& command, const std::string& reply) {
        if (silent || answers == 0) return;
        if (answers > 0) --answers;
        for (int n = doubled > 0 ? 2 : 1; n > 0; --n)
            send(replyOverride ? replyOverride(command) : reply);
        if (doubled > 0) --doubled;
    }

    std::string dataReply(int n, int a) const {
        static const char digits[] = "0123456789ABCDEF";
        std::string r = {
            'x', static_cast<char>(0x60 + n), digits[(a >> 8) & 0xF], digits[(a >> 4) & 0xF], digits[a & 0xF],
            '='};
        for (int i = 0; i < n; ++i)
            r += static_cast<char>(memory[static_cast<std::size_t>(a + i)]);
        return r + "\r";
    }

    void parse() {
        if (pending_ == "RESET\r") {
            std::string lines;
            for (const auto& p : preamble)
                lines += p + "\r\n";
            answer(pending_, lines + ident + "\r\n");
            pending_.clear();
            return;
        }
        if (pending_.size() < 6 || pending_[0] != 'x') return;
        const int n = pending_[1] - 0x60;
        const int a = hex(pending_[2]) * 256 + hex(pending_[3]) * 16 + hex(pending_[4]);
        if (pending_[5] == '\r') {
            answer(pending_.substr(0, 6), dataReply(n, a));
            pending_.clear();
            return;
        }
        if (pending_.size() < static_cast<std::size_t>(6 + n + 1)) return;
        const std::string command = pending_;
        if (rejectWrites > 0) {
            --rejectWrites;
            answer(command, dataReply(n, a));
        } else {
            for (int i = 0; i < n; ++i)
                memory[static_cast<std::size_t>(a + i)] =
                    static_cast<std::uint8_t>(pending_[6 + static_cast<std::size_t>(i)]);
            answer(command, "OK\r\n");
        }
        pending_.clear();
    }

    std::deque<std::uint8_t> rx_;
    std::string pending_;
    int reads_ = 0;
    int writes_ = 0;
};

} // namespace tk7v::test
