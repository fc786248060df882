#pragma once
// The device's command protocol as bytes, and the receiver of its replies. No I/O here: the
// worker feeds the receiver whatever the channel delivers.
#include "model/parameter_image.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace tk7v::protocol {

inline constexpr std::size_t kChunkSize = 26;
inline constexpr std::size_t kReadLength = 238;
inline constexpr std::size_t kWriteLength = 512;
inline constexpr std::size_t kBlockSize = kImageSize;
inline constexpr std::size_t kReplyBufferSize = 611;
inline constexpr std::string_view kIdentWord = "TK7V";
inline constexpr std::array<std::uint8_t, 6> kReset = {'R', 'E', 'S', 'E', 'T', '\r'};
inline constexpr std::uint8_t kCr = 0x0D;

using Command = std::array<std::uint8_t, 6>;

// "x", count letter, three upper-case hex digits of the address, CR.
Command ReadCommand(std::size_t count, std::size_t address);
// The head of a write: "x", count letter, address, "=". The data and a lone CR follow it.
Command WriteHead(std::size_t count, std::size_t address);

// Takes one reply apart byte by byte: a data reply ("x", count letter, address, "=", data, one
// ending byte) or an acknowledgement ("OK"). Bytes before the first "x" or "O" are skipped.
//
// Whatever address and count a reply names, nothing is written outside the two buffers: data
// for offsets of 512 and above is received and dropped. The count letter gives at most 31 data
// bytes, so a reply never takes more than 38 bytes of the 611-byte reply buffer.
//
// A read command is answered only by a data reply at the command's own address that carries at
// least the bytes asked for. Anything else that arrives first (a late "OK", a reply meant for
// another command, one too short to cover this one) is taken apart the same way but stores
// nothing: trusting it would leave holes in the block under a read that says it succeeded.
class ReplyReceiver {
public:
    ReplyReceiver(std::span<std::uint8_t, kReplyBufferSize> reply, std::span<std::uint8_t, kBlockSize> block);

    // Starts a new reply; the buffers keep what they hold.
    void reset();
    // The read command whose answer is awaited: only a data reply at `address` with at least
    // `count` bytes is stored in the block. Without one (a write awaiting "OK") nothing a reply
    // carries is ever stored, so a data reply taken for a chunk's answer cannot change the block
    // being written.
    void expect(std::size_t address, std::size_t count);

    bool done() const { return done_; }
    // The reply is done and is the data reply that answers the expected read command.
    bool answered() const { return done_ && answers_; }
    void feed(std::uint8_t b);
    // How many data bytes the reply still promises and may be received in one read now; 0 while
    // the receiver needs single bytes (the head, the ending byte).
    std::size_t bulkWanted() const;
    // Feeds bytes received after bulkWanted() said so (at most that many).
    void feedBulk(std::span<const std::uint8_t> bytes);

    std::size_t position() const { return position_; }

private:
    void restart();

    std::span<std::uint8_t, kReplyBufferSize> reply_;
    std::span<std::uint8_t, kBlockSize> block_;
    std::uint8_t position_ = 0; // 8 bits, as the device's replies are counted
    int count_ = 0;
    std::uint16_t address_ = 0;
    bool done_ = false;
    bool expecting_ = false;
    std::size_t expectAddress_ = 0;
    int expectCount_ = 0;
    bool answers_ = false; // decided at the head's "=": this reply answers the command
};

} // namespace tk7v::protocol
