// The serial port's shared core over a fake system side, on every platform: what it does with the
// system's calls, whichever OS gives them.
#include "link/serial_core.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

using namespace tk7v;
using namespace std::chrono_literals;

namespace {

// A line that flow control (the device's CTS) holds up for 150 ms after a write's first byte,
// whose purge throws away what has not been sent, cutting a write in progress, as PurgeComm and
// tcflush do. Each purge notes whether it came during a write.
struct HeldLine : SystemPort {
    std::mutex mutex;
    std::condition_variable cv;
    std::string sent, purges;
    bool writing = false, purged = false, opened = false;

    std::uint32_t notOpenCode() const override { return 9; }
    bool isOpen() const override { return opened; }
    SerialPort::OpenResult open(const std::string&, const PortConfig&) override {
        opened = true;
        return {};
    }
    SysError close(std::chrono::milliseconds) override {
        opened = false;
        return {};
    }
    std::size_t discardInput() override { return 0; }
    SysError setRts(bool) override { return {}; }
    IoStatus readSome(std::span<std::uint8_t>, const StopSignal&, std::size_t&) override {
        return IoStatus::stopped();
    }
    SysError purge(std::chrono::milliseconds) override {
        std::lock_guard lock(mutex);
        purges += writing ? "during a write;" : "between writes;";
        purged = true;
        cv.notify_all();
        return {};
    }
    IoStatus writeSome(std::span<const std::uint8_t> bytes, const StopSignal*, std::size_t& n) override {
        std::unique_lock lock(mutex);
        n = writing ? bytes.size() : 1;
        if (writing && cv.wait_for(lock, 150ms, [&] { return purged; })) {
            writing = false; // the rest of the chunk is gone
            return IoStatus::failed(5);
        }
        sent.append(bytes.begin(), bytes.begin() + static_cast<long>(n));
        writing = n < bytes.size();
        cv.notify_all();
        return IoStatus::ok();
    }
};

// A line whose driver holds written bytes or has sent them all: the bound each purge and close
// is given, which is where the system side starts its drain helper or not.
struct QueueingLine : SystemPort {
    bool held = false, opened = false;
    std::vector<std::chrono::milliseconds> bounds;

    std::uint32_t notOpenCode() const override { return 9; }
    bool isOpen() const override { return opened; }
    bool outputHeld() const override { return held; }
    SerialPort::OpenResult open(const std::string&, const PortConfig&) override {
        opened = true;
        return {};
    }
    SysError close(std::chrono::milliseconds bound) override {
        bounds.push_back(bound);
        opened = false;
        return {};
    }
    SysError purge(std::chrono::milliseconds bound) override {
        bounds.push_back(bound);
        return {};
    }
    std::size_t discardInput() override { return 0; }
    SysError setRts(bool) override { return {}; }
    IoStatus readSome(std::span<std::uint8_t>, const StopSignal&, std::size_t&) override {
        return IoStatus::stopped();
    }
    IoStatus writeSome(std::span<const std::uint8_t> bytes, const StopSignal*, std::size_t& n) override {
        n = bytes.size();
        return IoStatus::ok();
    }
};

} // namespace

// A purge (the start of every exchange) and a close wait for the output only while the driver
// still holds some: with nothing queued the system side is told there is nothing to drain.
TEST(SerialCore, APurgeOrACloseDrainsOnlyWhatTheDriverHolds) {
    for (const bool held : {false, true}) {
        SCOPED_TRACE(held ? "bytes queued" : "nothing queued");
        auto made = std::make_unique<QueueingLine>();
        QueueingLine& line = *made;
        line.held = held;
        const SystemPortMaker previous =
            ReplaceSystemPortMaker([&](const WakeSignal&) { return std::move(made); });
        SerialPort port;
        ReplaceSystemPortMaker(previous);
        ASSERT_EQ(port.open("queue", PortConfig{}).stage, SerialPort::OpenResult::Opened);
        EXPECT_FALSE(port.purge());
        EXPECT_FALSE(port.close());
        const auto bound = held ? SerialPort::kDrainBound : 0ms;
        EXPECT_EQ(line.bounds, (std::vector<std::chrono::milliseconds>{bound, bound}));
    }
}

// A disconnect purges the port while the worker's chunk is still being handed over, held up by
// flow control or, on Windows, a write in progress: the purge waits for the chunk, which arrives
// whole, rather than cut it so that the device takes what comes next as its data.
TEST(SerialCore, APurgeWaitsForAWriteInProgress) {
    auto made = std::make_unique<HeldLine>();
    HeldLine& line = *made;
    const SystemPortMaker previous =
        ReplaceSystemPortMaker([&](const WakeSignal&) { return std::move(made); });
    SerialPort port;
    ReplaceSystemPortMaker(previous);
    ASSERT_EQ(port.open("held", PortConfig{}).stage, SerialPort::OpenResult::Opened);
    const std::string chunk = "xz000=" + std::string(26, 'N') + "\r";
    IoStatus written;
    std::thread worker([&] {
        written =
            port.write({reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size()}, StopSignal{});
    });
    std::unique_lock lock(line.mutex);
    EXPECT_TRUE(line.cv.wait_for(lock, 5s, [&] { return line.writing; }));
    lock.unlock();
    EXPECT_FALSE(port.purge());
    worker.join();
    EXPECT_EQ(written.kind, IoStatus::Ok);
    EXPECT_EQ(line.sent, chunk);
    EXPECT_EQ(line.purges, "between writes;");
}
