#pragma once
// An in-memory ТК-7В behind the Channel interface, for driving the worker without a port: the
// simulator's device model with no line between, so its replies are there as soon as the worker's
// write returns. A read waits (for a stop) when nothing is left. Its faults are the simulator's;
// the hooks below are the ones only a test can play.
#include "link/channel.h"
#include "tools/sim/device.h"

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>

namespace tk7v::test {

class FakeDevice : public Channel, private sim::DeviceHost {
    std::shared_ptr<sim::Device> device_; // first: the members below refer into it

public:
    // A device of its own, with Blank() memory and Usual() faults.
    FakeDevice() : FakeDevice(std::make_shared<sim::Device>(faults, Blank())) {}
    // The end of a cable with `device` plugged at it (one a bench holds, say).
    explicit FakeDevice(std::shared_ptr<sim::Device> device)
        : device_(std::move(device)), faults(Usual()), memory(device_->memory()) {}

    static sim::Memory Blank() {
        sim::Memory m;
        m.fill(0xFF);
        return m;
    }
    // A device that answers as it should, identified as "TK7V v1.0".
    static sim::Faults Usual() {
        sim::Faults f;
        f.ident = "TK7V v1.0";
        return f;
    }

    sim::Faults faults;  // how a device of its own answers
    sim::Memory& memory; // the device's
    std::string written; // everything the worker wrote, in order
    int rtsRaised = 0;
    std::uint32_t failReadWith = 0; // after this many reads, fail with this code
    int failAfterReads = -1;
    std::function<std::string(const std::string& command)> replyOverride;
    int answers = -1; // answer this many commands, then fall silent
    int doubled = 0;  // answer this many commands twice
    std::string late; // still on the line when the worker first looks: it arrives after that look
    std::chrono::microseconds character{0};  // a line's pace, for the worker's waits; bytes come at once
    std::function<void()> onBlock;           // runs when a read starts waiting for bytes that never come
    std::function<void(int writes)> onWrite; // runs after each write, with the count so far

    bool died() const { return device_->dead(); }

    IoStatus read(std::span<std::uint8_t> into, const StopSignal& stop) override {
        if (failAfterReads >= 0 && reads_++ >= failAfterReads) return IoStatus::failed(failReadWith);
        // An identification without end is always there to read.
        while (rx_.size() < into.size() && device_->endlessIdent())
            send(device_->endlessChunk());
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

    IoStatus write(std::span<const std::uint8_t> bytes, const StopSignal& stop) override {
        if (stop.requested()) return IoStatus::stopped();
        written.append(bytes.begin(), bytes.end());
        if (onWrite) onWrite(++writes_);
        device_->hear(bytes, *this);
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
        const auto hex = [](char c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
        return sim::DataReply(memory, command[1] - 0x60,
                              hex(command[2]) * 256 + hex(command[3]) * 16 + hex(command[4]));
    }

private:
    void reply(const std::string& command, const std::string& bytes) override {
        if (answers == 0) return;
        if (answers > 0) --answers;
        for (int n = doubled > 0 ? 2 : 1; n > 0; --n)
            send(replyOverride ? replyOverride(command) : bytes);
        if (doubled > 0) --doubled;
    }

    std::deque<std::uint8_t> rx_;
    int reads_ = 0;
    int writes_ = 0;
};

} // namespace tk7v::test
