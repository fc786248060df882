// The bounded helper a close drains on, on every platform: a drain that ends in time, one that
// only the cancel ends, and one that not even the cancel ends.
#include "link/serial_core.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

using namespace tk7v;
using namespace std::chrono_literals;

namespace {

// A call that returns `result` once released; released at once, by the cancel, or only by the
// test after it has been left alone.
struct Blocked {
    std::mutex mutex;
    std::condition_variable cv;
    bool released = false;
    bool returned = false;
    void release() {
        std::lock_guard lock(mutex);
        released = true;
        cv.notify_all();
    }
};

} // namespace

TEST(RunBounded, WaitsForTheWorkCancelsItPastTheBoundAndLeavesItAlonePastTheGrace) {
    enum Release { AtOnce, ByCancel, Never };
    const struct {
        const char* name;
        Release release;
        bool result;
        bool expected;
        bool cancelled;
    } cases[] = {
        {"ends in time", AtOnce, true, true, false},
        {"ends in time and fails", AtOnce, false, false, false},
        {"ended by the cancel", ByCancel, true, true, true},
        {"not ended even by the cancel", Never, true, false, true},
    };
    constexpr auto bound = 50ms;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto work = std::make_shared<Blocked>();
        if (c.release == AtOnce) work->release();
        bool cancelled = false;
        const auto t0 = std::chrono::steady_clock::now();
        const bool result = RunBounded(
            [work, r = c.result] {
                std::unique_lock lock(work->mutex);
                work->cv.wait(lock, [&] { return work->released; });
                work->returned = true;
                work->cv.notify_all();
                return r;
            },
            [&] {
                cancelled = true;
                if (c.release == ByCancel) work->release();
            },
            bound);
        const auto took = std::chrono::steady_clock::now() - t0;
        EXPECT_EQ(result, c.expected);
        EXPECT_EQ(cancelled, c.cancelled);
        if (c.release == Never) {
            EXPECT_GE(took, bound + kCancelGrace);
            // The helper left alone still owns its state and finishes once released.
            work->release();
            std::unique_lock lock(work->mutex);
            EXPECT_TRUE(work->cv.wait_for(lock, 5s, [&] { return work->returned; }));
        } else {
            EXPECT_LT(took, bound + kCancelGrace);
        }
    }
}
