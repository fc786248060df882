// A console closed, a log-off or a shut-down: Windows ends the program once the handler returns,
// so the handler asks the run to stop and holds the end until the run says its clean end is over
// (or the system's allowance is nearly spent); Ctrl+C passes on to the C runtime's signals.
#include "link/console.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

std::atomic<bool> gAsked{false};
std::thread gRun;

// The run: asked to stop, it ends cleanly a moment later, as devices are reset and ports closed.
void onEnd() {
    gAsked = true;
    gRun = std::thread([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the run's clean end takes a moment
        tk7v::ConsoleEndDone();
    });
}

} // namespace

TEST(ConsoleEnd, HeldUntilTheRunHasEndedCleanly) {
    tk7v::HoldConsoleEnd(onEnd);
    EXPECT_FALSE(tk7v::EndConsoleAsTheSystemWould(CTRL_C_EVENT));
    EXPECT_FALSE(gAsked);
    for (const DWORD type : {CTRL_CLOSE_EVENT, CTRL_LOGOFF_EVENT}) {
        tk7v::HoldConsoleEnd(onEnd);
        gAsked = false;
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_TRUE(tk7v::EndConsoleAsTheSystemWould(type));
        const auto held = std::chrono::steady_clock::now() - t0;
        gRun.join();
        EXPECT_TRUE(gAsked);
        EXPECT_GE(held, std::chrono::milliseconds(250));  // not before the run's end
        EXPECT_LT(held, std::chrono::milliseconds(4000)); // not the whole allowance
    }
    // Once the run is over nothing is held: the system's own handling ends the program.
    EXPECT_FALSE(tk7v::EndConsoleAsTheSystemWould(CTRL_CLOSE_EVENT));
}
