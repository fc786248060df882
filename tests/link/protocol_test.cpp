#include "link/protocol.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using namespace tk7v::protocol;

namespace {

std::vector<std::uint8_t> bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

enum class Feed { Whole, ByteByByte };

struct Outcome {
    std::array<std::uint8_t, kReplyBufferSize> reply{};
    std::array<std::uint8_t, kBlockSize> block{};
    std::array<std::uint8_t, 32> beyondBlock{}; // a stray write past the block lands here
    std::size_t consumed = 0;
    bool done = false;
    bool answered = false;
};

struct Expected {
    std::size_t address, count;
};

// Feeds a stream to a receiver the way the worker does (Whole: the data part in one piece) or a
// byte at a time; stops at the end of the reply, so trailing bytes are left over.
// Without an expected read command the receiver waits for a write's "OK".
Outcome receive(const std::vector<std::uint8_t>& stream, Feed mode, std::optional<Expected> expected) {
    Outcome o;
    o.block.fill(0xEE);
    ReplyReceiver rx(o.reply, o.block);
    if (expected) rx.expect(expected->address, expected->count);
    std::size_t i = 0;
    while (i < stream.size() && !rx.done()) {
        const std::size_t want = mode == Feed::Whole ? rx.bulkWanted() : 0;
        if (want > 0) {
            const std::size_t n = std::min(want, stream.size() - i);
            rx.feedBulk({stream.data() + i, n});
            i += n;
        } else {
            rx.feed(stream[i++]);
        }
    }
    o.consumed = i;
    o.done = rx.done();
    o.answered = rx.answered();
    return o;
}

} // namespace

TEST(Protocol, Commands) {
    EXPECT_EQ(ReadCommand(26, 0), (Command{0x78, 0x7A, 0x30, 0x30, 0x30, 0x0D}));
    EXPECT_EQ(ReadCommand(4, 0x0EA), (Command{0x78, 0x64, 0x30, 0x45, 0x41, 0x0D}));
    EXPECT_EQ(WriteHead(26, 0), (Command{0x78, 0x7A, 0x30, 0x30, 0x30, 0x3D}));
    EXPECT_EQ(WriteHead(18, 0x1EE), (Command{0x78, 0x72, 0x31, 0x45, 0x45, 0x3D}));
    EXPECT_EQ(std::string(kReset.begin(), kReset.end()), "RESET\r");
}

TEST(Protocol, Replies) {
    std::string beyond = "xz1F0=";
    for (int i = 0; i < 26; ++i)
        beyond += static_cast<char>(i + 1);
    beyond += "\r";
    std::string maxCount = "x\x7F"
                           "\x7F\x7F\x7F=";
    maxCount += std::string(31, 'D') + "\r";

    // Each stream answers a read command for `expected`; the data lands in the block only when the
    // reply is that command's own answer.
    const struct {
        const char* name;
        std::string stream;
        Expected expected;
        std::size_t length;                             // bytes that belong to the reply
        std::vector<std::pair<std::size_t, int>> block; // offsets and values after it (0xEE untouched)
        bool answered;
        bool ok; // "OK" at the start of the reply buffer
    } cases[] = {
        {"three bytes at 005",
         "xc005=\x01\x02\x03\r",
         {5, 3},
         10,
         {{4, 0xEE}, {5, 1}, {6, 2}, {7, 3}, {8, 0xEE}},
         true,
         false},
        {"a reply for another address",
         "xc005=\x01\x02\x03\r",
         {4, 3},
         10,
         {{4, 0xEE}, {5, 0xEE}},
         false,
         false},
        {"too short for the command",
         "xc005=\x01\x02\x03\r",
         {5, 4},
         10,
         {{5, 0xEE}, {7, 0xEE}},
         false,
         false},
        {"longer than asked", "xc005=\x01\x02\x03\r", {5, 2}, 10, {{5, 1}, {6, 2}, {7, 3}}, true, false},
        {"noise before head", "\r\n\x01zzxb000=\x05\x06\r", {0, 2}, 14, {{0, 5}, {1, 6}}, true, false},
        {"acknowledgement", "OK", {0, 26}, 2, {}, false, true},
        {"leftover CR LF then OK", "\r\n\r\nOK", {0, 26}, 6, {}, false, true},
        {"O then x restarts", "Oxb000=\x09\x09\rOK", {0, 2}, 12, {{0, 0xEE}}, false, true},
        {"O, another byte, a later K", "O\rK\nOK", {0, 26}, 6, {}, false, true},
        {"last byte of the block",
         "xa1FF=\x5A\r",
         {0x1FF, 1},
         8,
         {{0x1FE, 0xEE}, {0x1FF, 0x5A}},
         true,
         false},
        {"no = at the sixth byte", "xb000?xa001=\x07\r", {1, 1}, 14, {{0, 0xEE}, {1, 7}}, true, false},
        {"count letter 0x60", "x`000=\x01\x02", {0, 1}, 7, {{0, 0xEE}}, false, false},
        {"count letter below 0x60",
         "x\x01"
         "000=\x01",
         {0, 1},
         7,
         {{0, 0xEE}},
         false,
         false},
        {"data beyond offset 511",
         beyond,
         {0x1F0, 26},
         beyond.size(),
         {{0x1EF, 0xEE}, {0x1F0, 1}, {0x1FF, 16}},
         true,
         false},
        {"largest count at a wild address",
         maxCount,
         {0, 26},
         maxCount.size(),
         {{0, 0xEE}, {511, 0xEE}},
         false,
         false},
        {"lower-case digits count by the device rule",
         "xa00a=\x42\r",
         {0x2A, 1},
         8,
         {{0x2A, 0x42}},
         true,
         false},
    };
    for (const auto& c : cases) {
        for (Feed mode : {Feed::Whole, Feed::ByteByByte}) {
            const std::string trailing = "TRAILING";
            const Outcome o = receive(bytes(c.stream + trailing), mode, c.expected);
            SCOPED_TRACE(std::string(c.name) + (mode == Feed::Whole ? " (whole)" : " (byte by byte)"));
            EXPECT_TRUE(o.done);
            EXPECT_EQ(o.answered, c.answered);
            EXPECT_EQ(o.consumed, c.length);
            EXPECT_EQ(o.beyondBlock, decltype(o.beyondBlock){});
            for (const auto& [offset, value] : c.block)
                EXPECT_EQ(o.block[offset], value) << "offset " << offset;
            EXPECT_EQ(o.reply[0] == 'O' && o.reply[1] == 'K', c.ok);
            if (c.ok) {
                EXPECT_EQ(o.reply[2], 0);
            }
        }
    }
}

TEST(Protocol, DataNotStoredWhenTheBlockIsBeingWritten) {
    const Outcome o = receive(bytes("xc000=\x01\x02\x03\r"), Feed::Whole, std::nullopt);
    EXPECT_TRUE(o.done);
    EXPECT_FALSE(o.answered);
    EXPECT_EQ(o.block[0], 0xEE);
    EXPECT_EQ(o.reply[0], 'x');
}

TEST(Protocol, EveryByteStreamStaysInsideTheBuffers) {
    // Every count letter and address digit the device could send: nothing lands outside the
    // block (the sanitizer builds would catch a stray write), and every byte is consumed.
    for (int count = 0; count < 256; count += 3) {
        for (int digit = 0; digit < 256; digit += 17) {
            std::vector<std::uint8_t> s(46, 0xAB);
            const std::uint8_t d = static_cast<std::uint8_t>(digit);
            const std::uint8_t head[] = {'x', static_cast<std::uint8_t>(count), d, d, d, '='};
            std::copy(std::begin(head), std::end(head), s.begin());
            const Outcome o = receive(s, Feed::Whole, Expected{0, 26});
            EXPECT_TRUE(o.done);
            EXPECT_LE(o.consumed, s.size());
        }
    }
}
