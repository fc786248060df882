#pragma once
// A ТК-7В's side of the protocol: its memory, and what it answers to the bytes that reach it. It
// answers "RESET\r" with its identification line, read commands with data from memory and write
// commands with "OK"; everything else on the line is skipped, as the device does. It knows no
// time and no line: whoever carries the bytes (a pseudo-terminal at the line's pace, a test's
// channel at once) hands it what has arrived and takes its replies through a DeviceHost.
// One thread at a time.
#include "device_memory.h"
#include "faults.h"

#include <span>
#include <string>
#include <vector>

namespace tk7v::sim {

// What the device does, in the order it does it.
class DeviceHost {
public:
    virtual ~DeviceHost() = default;
    // The answer to `command` (the command's bytes as heard), faults included; it is due the
    // faults' turnaround after the command arrived.
    virtual void reply(const std::string& command, const std::string& bytes) = 0;
    // A line for the log: each command as it is carried out ("READ 26 @000"), "DIE" at the end.
    virtual void note(const std::string& line) { (void)line; }
    // The device has ended as a killed one would (the faults' dieAfter): it hears nothing more.
    virtual void died() {}
};

// The data reply to a read of `count` bytes at `address` ("x", count, address, "=", data, CR);
// cells past the memory's end read as 0xFF.
std::string DataReply(const Memory& memory, int count, int address);

class Device {
public:
    // `faults` is read at each command and must outlive the device. With a `savePath` the memory
    // is written there after every write it takes.
    Device(const Faults& faults, const Memory& memory, std::string savePath = {});

    // Bytes that have reached the device, in order.
    void hear(std::span<const std::uint8_t> bytes, DeviceHost& host);

    Memory& memory() { return memory_; }
    const Memory& memory() const { return memory_; }
    void save() const;

    // Whether part of a command has been heard and the rest is awaited.
    bool midCommand() const { return !buffer_.empty(); }
    bool dead() const { return dead_; }

    // After a RESET with the endlessIdent fault: identification that never ends, a chunk at a
    // time, sent whenever the line is free.
    bool endlessIdent() const { return endless_; }
    std::string endlessChunk();

private:
    void parse(DeviceHost& host);
    void identify(DeviceHost& host);
    void read(int count, int address, DeviceHost& host);
    void write(int count, int address, DeviceHost& host);
    void reply(const std::string& bytes, DeviceHost& host);
    void commandDone(DeviceHost& host);
    bool muted() const;

    const Faults& faults_;
    Memory memory_;
    std::string savePath_;
    std::vector<std::uint8_t> buffer_;
    std::string command_; // the command being answered
    long rejected_ = 0;
    long refusedInARow_ = 0;
    long commands_ = 0;
    bool endless_ = false;
    bool sentIdentStart_ = false;
    bool dead_ = false;
};

} // namespace tk7v::sim
