#include "device.h"

#include <algorithm>
#include <cstdio>

namespace tk7v::sim {

namespace {

int HexValue(std::uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string Text(const char* format, int count, int address) {
    char text[48];
    std::snprintf(text, sizeof text, format, count, address);
    return text;
}

} // namespace

std::string DataReply(const Memory& memory, int count, int address) {
    std::string r = {'x', static_cast<char>(0x60 + count)};
    static const char hex[] = "0123456789ABCDEF";
    r += hex[(address >> 8) & 0xF];
    r += hex[(address >> 4) & 0xF];
    r += hex[address & 0xF];
    r += '=';
    for (int i = 0; i < count; ++i) {
        const std::size_t at = static_cast<std::size_t>(address + i);
        r += static_cast<char>(at < kMemorySize ? memory[at] : 0xFF);
    }
    r += '\r';
    return r;
}

Device::Device(const Faults& faults, const Memory& memory, std::string savePath)
    : faults_(faults), memory_(memory), savePath_(std::move(savePath)) {}

void Device::save() const {
    if (!savePath_.empty()) SaveMemory(savePath_, memory_);
}

void Device::hear(std::span<const std::uint8_t> bytes, DeviceHost& host) {
    if (dead_) return;
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
    parse(host);
}

std::string Device::endlessChunk() {
    std::string chunk(64, 'Z');
    if (sentIdentStart_) return chunk;
    sentIdentStart_ = true;
    return "TK7V" + chunk;
}

void Device::parse(DeviceHost& host) {
    static const std::string reset = "RESET\r";
    while (!dead_) {
        while (!buffer_.empty() && buffer_[0] != 'x' && buffer_[0] != 'R')
            buffer_.erase(buffer_.begin());
        if (buffer_.empty()) return;
        if (buffer_[0] == 'R') {
            const std::size_t have = std::min(buffer_.size(), reset.size());
            if (!std::equal(buffer_.begin(), buffer_.begin() + static_cast<long>(have), reset.begin())) {
                buffer_.erase(buffer_.begin());
                continue;
            }
            if (have < reset.size()) return;
            buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<long>(reset.size()));
            command_ = reset;
            host.note("RESET");
            identify(host);
            commandDone(host);
            continue;
        }
        if (buffer_.size() < 6) return;
        const int count = buffer_[1] - 0x60;
        const int h[3] = {HexValue(buffer_[2]), HexValue(buffer_[3]), HexValue(buffer_[4])};
        const bool headOk = count >= 1 && count <= 26 && h[0] >= 0 && h[1] >= 0 && h[2] >= 0 &&
                            (buffer_[5] == '\r' || buffer_[5] == '=');
        if (!headOk) {
            buffer_.erase(buffer_.begin());
            continue;
        }
        const int address = h[0] << 8 | h[1] << 4 | h[2];
        const std::size_t total = buffer_[5] == '\r' ? 6 : 6 + static_cast<std::size_t>(count) + 1;
        if (buffer_.size() < total) return;
        command_.assign(buffer_.begin(), buffer_.begin() + static_cast<long>(total));
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<long>(total));
        if (total == 6)
            read(count, address, host);
        else
            write(count, address, host);
        commandDone(host);
    }
}

void Device::identify(DeviceHost& host) {
    if (muted()) return;
    if (faults_.endlessIdent) {
        endless_ = true;
        sentIdentStart_ = false;
        return;
    }
    std::string lines;
    for (const std::string& p : faults_.preamble)
        lines += p + "\r\n";
    reply(lines + faults_.ident + "\r\n" + faults_.stale, host);
}

void Device::read(int count, int address, DeviceHost& host) {
    host.note(Text("READ %d @%03X", count, address));
    std::string before;
    if (faults_.wild)
        before = DataReply(memory_, 26, 0x1F0) + "x\x7F\x7F\x7F\x7F=" + std::string(31, '\x5A') + "\r";
    if (faults_.shortReplies) before += DataReply(memory_, count - 1, address);
    reply(before + DataReply(memory_, faults_.longReplies ? std::min(count + 5, 31) : count, address), host);
}

void Device::write(int count, int address, DeviceHost& host) {
    const bool refuse = rejected_ < faults_.rejectWrites || refusedInARow_ < faults_.rejectEach;
    for (int i = 0; i < count; ++i) {
        const std::size_t at = static_cast<std::size_t>(address + i);
        if (at < kMemorySize && !refuse)
            memory_[at] = static_cast<std::uint8_t>(command_[6 + std::size_t(i)]);
    }
    if (faults_.stuckAt >= 0 && faults_.stuckAt < static_cast<long>(kMemorySize))
        memory_[static_cast<std::size_t>(faults_.stuckAt)] = static_cast<std::uint8_t>(faults_.stuckValue);
    if (refuse) {
        ++rejected_;
        ++refusedInARow_;
        host.note(Text("WRITE %d @%03X REJECTED", count, address));
        reply(DataReply(memory_, count, address), host);
    } else {
        host.note(Text("WRITE %d @%03X", count, address));
        save();
        refusedInARow_ = 0;
        reply("OK\r\n", host);
    }
}

bool Device::muted() const {
    return faults_.silent || (faults_.muteAfter >= 0 && commands_ >= faults_.muteAfter);
}

void Device::reply(const std::string& bytes, DeviceHost& host) {
    if (muted()) return;
    std::string out;
    // Noise ends a line, as line noise between two lines would look.
    for (long i = 0; i < faults_.noise; ++i)
        out += static_cast<char>(i + 1 == faults_.noise ? '\n' : "\x01\xFE#\n\r?"[i % 6]);
    if (faults_.garble) out += "Ox" + std::string("xz00?") + "O\r";
    host.reply(command_, out + bytes);
}

void Device::commandDone(DeviceHost& host) {
    ++commands_;
    if (faults_.dieAfter >= 0 && commands_ >= faults_.dieAfter) {
        host.note("DIE");
        dead_ = true;
        host.died();
    }
}

} // namespace tk7v::sim
