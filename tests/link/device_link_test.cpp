// The link over a stand-in port: what the port is told, in order, when an exchange ends.
#include "fake_device.h"
#include "link/device_link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

using namespace tk7v;
using tk7v::test::FakeDevice;

namespace {

// Logs every call the link makes on its port; the worker's exchange goes to a fake device.
class LoggingPort : public DeviceLink::Port {
public:
    FakeDevice device;

    std::vector<std::string> calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    SerialPort::OpenResult open(const std::string&, const PortConfig&) override {
        open_ = true;
        return note("open"), SerialPort::OpenResult{};
    }
    bool isOpen() const override { return open_; }
    SysError close() override {
        open_ = false;
        return note("close"), SysError{};
    }
    SysError purge() override { return note("purge"), SysError{}; }
    SysError setRts(bool on) override { return note(on ? "RTS up" : "RTS down"), SysError{}; }
    IoStatus write(std::span<const std::uint8_t> bytes) override {
        return note("write " + std::string(bytes.begin(), bytes.end())), IoStatus::ok();
    }
    IoStatus read(std::span<std::uint8_t> into, const StopSignal& stop) override {
        return device.read(into, stop);
    }
    IoStatus write(std::span<const std::uint8_t> bytes, const StopSignal& stop) override {
        return device.write(bytes, stop);
    }
    void raiseRts() override { note("RTS up"); }

private:
    void note(const std::string& call) {
        std::lock_guard lock(mutex_);
        calls_.push_back(call);
    }
    std::mutex mutex_;
    std::vector<std::string> calls_;
    bool open_ = false;
};

struct QuietHost : DeviceLink::Host {
    void PostStatus(const std::string&) override {}
    void ReportIoError(std::uint32_t) override {}
    void DeliverBlock(const Block&) override {}
    void CollectBlock(Block&) override {}
    void RestoreControls() override {}
};

} // namespace

TEST(DeviceLink, RtsGoesDownBeforeThePortCloses) {
    const struct {
        const char* name;
        bool silent; // the device never answers: the link is still identifying
        std::function<void(DeviceLink&)> end;
        std::vector<std::string> told; // after the identification
    } cases[] = {
        {"disconnect",
         false,
         [](DeviceLink& l) { l.disconnect(); },
         {"RTS down", "purge", "write RESET\r", "RTS down", "close"}},
        {"close", false, [](DeviceLink& l) { l.close(); }, {"RTS down", "close"}},
        {"abort while identifying", true, [](DeviceLink& l) { l.abort(); }, {"RTS down", "close"}},
        {"close while identifying", true, [](DeviceLink& l) { l.close(); }, {"RTS down", "close"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoggingPort port;
        port.device.faults.silent = c.silent;
        ManualResetEvent waiting;
        port.device.onBlock = [&] { waiting.set(); };
        QuietHost host;
        DeviceLink link(host, port);
        ASSERT_EQ(link.open("port", PortConfig{}).stage, SerialPort::OpenResult::Opened);
        link.identify();
        if (c.silent)
            ASSERT_TRUE(waiting.wait(std::chrono::seconds(5)));
        else
            link.waitForWorker();
        const auto before = port.calls();
        EXPECT_EQ(before, (std::vector<std::string>{"open", "purge", "RTS up"}));
        c.end(link);
        const auto calls = port.calls();
        EXPECT_EQ(std::vector<std::string>(calls.begin() + static_cast<long>(before.size()), calls.end()),
                  c.told);
    }
}

// An exchange run on the owner's thread ends on a stop asked from anywhere: one asked before it
// starts (an interrupt just before the exchange) holds until cleared, so it cannot be lost.
TEST(DeviceLink, AStopEndsTheExchangeRunHereWhenEverItIsAsked) {
    struct EndingHost : QuietHost {
        std::optional<ExchangeEnd::How> how;
        void exchangeEnded(Operation, const ExchangeEnd& end) override { how = end.how; }
    };
    using How = ExchangeEnd::How;
    // Asked before, cleared before, asked from another thread while the device is silent.
    const struct {
        bool before, cleared, during;
        How how;
    } cases[] = {{true, false, false, How::Cancelled},
                 {true, true, false, How::Done},
                 {false, false, true, How::Cancelled}};
    for (const auto& c : cases) {
        LoggingPort port;
        port.device.faults.silent = c.during;
        EndingHost host;
        DeviceLink link(host, port);
        ASSERT_EQ(link.open("port", PortConfig{}).stage, SerialPort::OpenResult::Opened);
        if (c.before) link.requestStop();
        if (c.cleared) link.clearStop();
        std::thread stopper;
        port.device.onBlock = [&] {
            if (!stopper.joinable()) stopper = std::thread([&] { link.requestStop(); });
        };
        link.runHere(opConnect);
        if (stopper.joinable()) stopper.join();
        EXPECT_EQ(host.how, c.how);
        // Stopped before it began, the exchange never touched the line.
        const auto calls = port.calls();
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "RTS up"), c.before && !c.cleared ? 0 : 1);
    }
}
