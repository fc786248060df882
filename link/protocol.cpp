#include "link/protocol.h"

namespace tk7v::protocol {

namespace {

Command head(std::size_t count, std::size_t address, std::uint8_t last) {
    static const char hex[] = "0123456789ABCDEF";
    return {'x',
            static_cast<std::uint8_t>(0x60 + count),
            static_cast<std::uint8_t>(hex[(address >> 8) & 0xF]),
            static_cast<std::uint8_t>(hex[(address >> 4) & 0xF]),
            static_cast<std::uint8_t>(hex[address & 0xF]),
            last};
}

} // namespace

Command ReadCommand(std::size_t count, std::size_t address) {
    return head(count, address, kCr);
}
Command WriteHead(std::size_t count, std::size_t address) {
    return head(count, address, '=');
}

ReplyReceiver::ReplyReceiver(std::span<std::uint8_t, kReplyBufferSize> reply,
                             std::span<std::uint8_t, kBlockSize> block)
    : reply_(reply), block_(block) {}

void ReplyReceiver::reset() {
    restart();
    done_ = false;
}

void ReplyReceiver::expect(std::size_t address, std::size_t count) {
    expecting_ = true;
    expectAddress_ = address;
    expectCount_ = static_cast<int>(count);
}

void ReplyReceiver::restart() {
    position_ = 0;
    count_ = 0;
    address_ = 0;
    answers_ = false;
}

void ReplyReceiver::feed(std::uint8_t b) {
    if (done_) return;
    reply_[position_] = b;
    const auto sb = static_cast<std::int8_t>(b);
    switch (position_) {
    case 0:
        if (b == 'x' || b == 'O') position_ = 1;
        return;
    case 1:
        if (reply_[0] == 'O') {
            if (b == 'K') {
                reply_[2] = 0;
                done_ = true;
            } else {
                restart();
            }
            return;
        }
        count_ = sb - 0x60;
        position_ = 2;
        return;
    case 2:
    case 3:
    case 4: {
        // The device's digit rule, kept as it is: anything up to '9' counts by its low nibble,
        // anything above by its distance from 'A' - 10. It does not check the digit.
        const int digit = sb <= '9' ? (b & 0x0F) : sb - 55;
        const int shift = position_ == 2 ? 8 : position_ == 3 ? 4 : 0;
        address_ = static_cast<std::uint16_t>(address_ + (digit << shift));
        ++position_;
        return;
    }
    case 5:
        if (b == '=') {
            position_ = 6;
            answers_ = expecting_ && address_ == expectAddress_ && count_ >= expectCount_;
        } else {
            restart();
        }
        return;
    default:
        if (count_ <= 0) {
            done_ = true;
            return;
        }
        if (answers_ && address_ < kBlockSize) block_[address_] = b;
        ++address_;
        ++position_;
        --count_;
        return;
    }
}

std::size_t ReplyReceiver::bulkWanted() const {
    return (!done_ && position_ >= 6 && count_ > 0) ? static_cast<std::size_t>(count_) : 0;
}

void ReplyReceiver::feedBulk(std::span<const std::uint8_t> bytes) {
    for (std::uint8_t b : bytes) {
        if (bulkWanted() == 0) return;
        feed(b);
    }
}

} // namespace tk7v::protocol
