#include "link/protocol.h"

#include <gtest/gtest.h>

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
    std::size_t consumed = 0;
    bool done = false;
};

// Feeds a stream to a receiver the way the worker does (Whole: the data part in one piece) or a
// byte at a time; stops at the end of the reply, so trailing bytes are left over.
Outcome receive(const std::vector<std::uint8_t>& stream, Feed mode, bool storeData = true) {
    Outcome o;
    o.block.fill(0xEE);
    ReplyReceiver rx(o.reply, o.block);
    rx.setStoreData(storeData);
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

    const struct {
        const char* name;
        std::string stream;
        std::size_t length;                             // bytes that belong to the reply
        std::vector<std::pair<std::size_t, int>> block; // offsets and values after it (0xEE untouched)
        bool ok;                                        // "OK" at the start of the reply buffer
    } cases[] = {
        {"three bytes at 005",
         "xc005=\x01\x02\x03\r",
         10,
         {{4, 0xEE}, {5, 1}, {6, 2}, {7, 3}, {8, 0xEE}},
         false},
        {"noise before head", "\r\n\x01zzxb000=\x05\x06\r", 14, {{0, 5}, {1, 6}}, false},
        {"acknowledgement", "OK", 2, {}, true},
        {"leftover CR LF then OK", "\r\n\r\nOK", 6, {}, true},
        {"O then x restarts", "Oxb000=\x09\x09\rOK", 12, {{0, 0xEE}}, true},
        {"O, another byte, a later K", "O\rK\nOK", 6, {}, true},
        {"last byte of the block", "xa1FF=\x5A\r", 8, {{0x1FE, 0xEE}, {0x1FF, 0x5A}}, false},
        {"no = at the sixth byte", "xb000?xa001=\x07\r", 14, {{0, 0xEE}, {1, 7}}, false},
        {"count letter 0x60", "x`000=\x01\x02", 7, {{0, 0xEE}}, false},
        {"count letter below 0x60",
         "x\x01"
         "000=\x01",
         7,
         {{0, 0xEE}},
         false},
        {"data beyond offset 511", beyond, beyond.size(), {{0x1EF, 0xEE}, {0x1F0, 1}, {0x1FF, 16}}, false},
        {"largest count at a wild address", maxCount, maxCount.size(), {{0, 0xEE}, {511, 0xEE}}, false},
        {"lower-case digits count by the device rule", "xa00a=\x42\r", 8, {{0x2A, 0x42}}, false},
    };
    for (const auto& c : cases) {
        for (Feed mode : {Feed::Whole, Feed::ByteByByte}) {
            const std::string trailing = "TRAILING";
            const Outcome o = receive(bytes(c.stream + trailing), mode);
            SCOPED_TRACE(std::string(c.name) + (mode == Feed::Whole ? " (whole)" : " (byte by byte)"));
            EXPECT_TRUE(o.done);
            EXPECT_EQ(o.consumed, c.length);
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
    const Outcome o = receive(bytes("xc000=\x01\x02\x03\r"), Feed::Whole, false);
    EXPECT_TRUE(o.done);
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
            const Outcome o = receive(s, Feed::Whole);
            EXPECT_TRUE(o.done);
            EXPECT_LE(o.consumed, s.size());
        }
    }
}
