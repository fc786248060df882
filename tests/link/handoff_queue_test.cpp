// The hand-offs between a worker and the thread that owns the queue (the window's, or a test's).
#include "link/handoff_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

using namespace tk7v;
using namespace std::chrono_literals;

namespace {

// Counts the wake-ups the queue asks for, and lets a test wait for the first.
struct Wakes {
    std::mutex mutex;
    std::condition_variable cv;
    int count = 0;
    void wake() {
        std::lock_guard lock(mutex);
        ++count;
        cv.notify_all();
    }
    bool waitForOne() {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, 5s, [&] { return count > 0; });
    }
};

auto soon() {
    return std::chrono::steady_clock::now() + 5s;
}

} // namespace

TEST(HandoffQueue, HandOffsRunOnTheOwnerInOrderWhileItWaits) {
    Wakes wakes;
    HandoffQueue queue([&] { wakes.wake(); });
    std::vector<int> ran;
    std::vector<std::thread::id> ranOn;
    bool inside = false;
    std::atomic<bool> finished = false;
    std::thread worker([&] {
        for (int i = 1; i <= 3; ++i)
            queue.call([&, i] {
                ran.push_back(i);
                ranOn.push_back(std::this_thread::get_id());
                inside = queue.inHandoff();
            });
        finished = true;
        queue.poke();
    });
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(queue.runUntil([&] { return finished.load(); }, soon()));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s); // the poke, not the deadline, ended it
    worker.join();
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(ranOn, std::vector<std::thread::id>(3, std::this_thread::get_id()));
    EXPECT_TRUE(inside);
    EXPECT_FALSE(queue.inHandoff());
    EXPECT_GE(wakes.count, 1);
}

TEST(HandoffQueue, DetachReleasesAWaitingWorkerWithoutRunningItsHandOff) {
    Wakes wakes;
    HandoffQueue queue([&] { wakes.wake(); });
    std::atomic<bool> ran = false;
    auto worker = std::async(std::launch::async, [&] { queue.call([&] { ran = true; }); });
    ASSERT_TRUE(wakes.waitForOne()); // the hand-off waits in the queue
    queue.detach();
    EXPECT_EQ(worker.wait_for(5s), std::future_status::ready);
    // Once detached, nothing runs any more and no call waits.
    queue.drain();
    queue.call([&] { ran = true; });
    EXPECT_FALSE(ran);
    EXPECT_FALSE(queue.runUntil([] { return false; }));
}

TEST(HandoffQueue, WaitEndsAtItsDeadlineOrWhenPoked) {
    HandoffQueue queue([] {});
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(queue.runUntil([] { return false; }, t0 + 50ms));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 50ms);

    // The poke follows the owner's first look at `done`, which it takes under the queue's lock
    // just before it waits: the poke always finds it waiting, and ends the wait at once.
    std::promise<void> looked;
    std::atomic<bool> done = false;
    std::thread other([&] {
        looked.get_future().wait();
        done = true;
        queue.poke();
    });
    bool first = true;
    const auto t1 = std::chrono::steady_clock::now();
    EXPECT_TRUE(queue.runUntil(
        [&] {
            if (std::exchange(first, false)) looked.set_value();
            return done.load();
        },
        soon()));
    EXPECT_LT(std::chrono::steady_clock::now() - t1, 1s);
    other.join();
}
