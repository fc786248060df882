// The reply receiver fed arbitrary bytes, the way the worker feeds it (the data part in one
// piece) and a byte at a time: it never touches memory outside its buffers (the sanitizers
// watch), both ways agree, and it always consumes its input.
#include "link/protocol.h"

#include <cstdlib>
#include <cstring>

using namespace tk7v::protocol;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::array<std::uint8_t, kReplyBufferSize> replyA{}, replyB{};
    std::array<std::uint8_t, kBlockSize> blockA{}, blockB{};
    ReplyReceiver a(replyA, blockA), b(replyB, blockB);
    // The first byte picks the read command being answered, so that answers get stored.
    if (size > 0) {
        a.expect(data[0] * 2u, 1 + data[0] % 26);
        b.expect(data[0] * 2u, 1 + data[0] % 26);
    }
    std::size_t i = 0, j = 0;
    while (i < size) {
        if (a.done()) a.reset();
        const std::size_t want = a.bulkWanted();
        if (want > 31) std::abort(); // a count letter promises at most 31 bytes
        if (want > 0) {
            const std::size_t n = std::min(want, size - i);
            a.feedBulk({data + i, n});
            i += n;
        } else {
            a.feed(data[i++]);
        }
        if (a.position() >= kReplyBufferSize) std::abort();
    }
    while (j < size) {
        if (b.done()) b.reset();
        b.feed(data[j++]);
    }
    if (blockA != blockB) std::abort();
    return 0;
}
