// A station at a bench: devices plugged and unplugged at the cable's end while the port stays,
// over an in-memory device behind a fake port (no pseudo-terminal, nothing shared with another
// test). What an operator trusts without checking: every device put on is programmed once, with a
// number of its own, across swaps, stops, ports taken out and put back, and restarts.
#include "model/field_rules.h"
#include "station/plan.h"
#include "station/run.h"

#ifdef TK7V_SERVER_TESTS
#include "../common/test_postgres.h"
#endif
#include "../common/fresh_folder.h"
#include "../common/startup_image.h"
#include "../link/fake_device.h"
#include "tools/sim/bench.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sys/file.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

using namespace tk7v;
using namespace tk7v::station;
using namespace std::chrono_literals;

namespace {

// One port's line: a bench of devices, and the cable's end of the one plugged, if any.
struct Line {
    std::mutex mutex;
    std::atomic<bool> held{false};   // a port opens exclusively: a second open is refused as busy
    std::atomic<bool> adapter{true}; // the USB adapter that makes the port: pulled out, the port is gone
    const sim::Faults faults = test::FakeDevice::Usual();
    sim::Bench bench{test::FakeDevice::Blank(), faults};
    std::shared_ptr<test::FakeDevice> device;
    std::shared_ptr<test::FakeDevice> current() {
        std::lock_guard lock(mutex);
        return device;
    }
    // A new device, or device `number` again. `onWrite` is the device's own from the start: the
    // station may talk to it at once.
    void plug(std::function<void(int)> onWrite = {}, int number = 0) {
        std::lock_guard lock(mutex);
        ASSERT_EQ(bench.plug(number).why, "");
        auto fresh = std::make_shared<test::FakeDevice>(bench.device());
        fresh->onWrite = std::move(onWrite);
        device = std::move(fresh);
    }
    void plugBack() { plug({}, bench.number()); } // the last device, after a moment's silence on the cable
    void unplug() {
        std::lock_guard lock(mutex);
        bench.unplug();
        device.reset();
    }
    sim::Memory memoryOf(int number) {
        std::lock_guard lock(mutex);
        return bench.memoryOf(number);
    }
};

// The port stays whatever is at its end; with nothing there, what is sent is lost and nothing
// comes back.
class BenchPort : public DeviceLink::Port {
public:
    explicit BenchPort(Line& line) : line_(line) {}
    ~BenchPort() override { close(); }
    SerialPort::OpenResult open(const std::string&, const PortConfig&) override {
        // As the system does: a job that takes the port again while the one before it still
        // ends its probe waits until that one has closed it.
        if (!line_.adapter) return {SerialPort::OpenResult::OpenFailed, MakeSysError(ENOENT)};
        if (line_.held.exchange(true)) return {SerialPort::OpenResult::OpenFailed, MakeSysError(EBUSY)};
        open_ = true;
        return {};
    }
    bool isOpen() const override { return open_; }
    SysError close() override {
        if (open_) line_.held = false;
        open_ = false;
        return {};
    }
    SysError purge() override {
        discardInput();
        return {};
    }
    SysError setRts(bool) override { return {}; }
    IoStatus write(std::span<const std::uint8_t> bytes) override { return write(bytes, never_); }
    IoStatus write(std::span<const std::uint8_t> bytes, const StopSignal& stop) override {
        const auto d = line_.current();
        return d ? d->write(bytes, stop) : IoStatus::ok();
    }
    IoStatus read(std::span<std::uint8_t> into, const StopSignal& stop) override {
        if (!line_.adapter) return IoStatus::failed(EIO);
        // The device that answers is the one there when the command went out.
        if (const auto d = line_.current()) return d->read(into, stop);
        while (!stop.waitFor(1h)) {
        }
        return IoStatus::stopped();
    }
    void raiseRts() override {}
    std::size_t discardInput() override {
        const auto d = line_.current();
        return d ? d->discardInput() : 0;
    }

private:
    Line& line_;
    bool open_ = false;
    StopSignal never_;
};

// What the station told, in order, for the test to wait on.
class Events : public Listener {
public:
    void state(int, PortState s, const std::string&) override {
        add(s == PortState::LedgerBusy          ? "busy"
            : s == PortState::AwaitingDevice    ? "waiting"
            : s == PortState::RecordsKept       ? "kept"
            : s == PortState::LedgerUnavailable ? "unavailable"
                                                : "");
    }
    void share(int, int) override {}
    void ended(int, const DeviceEnded& e) override {
        const std::string number = e.given.numbers.empty() ? "" : e.given.numbers[0];
        add(e.held ? "held " + number : e.end.status == kDone ? "done " + number : "failed " + e.end.text);
    }
    // Waits until `n` events of `what` have come (a prefix of the event's words).
    bool waitFor(const std::string& what, std::size_t n = 1, std::chrono::milliseconds within = 8s) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, within, [&] { return count(what) >= n; });
    }
    std::size_t count(const std::string& what) const {
        return std::count_if(seen_.begin(), seen_.end(),
                             [&](const std::string& e) { return e.starts_with(what); });
    }

private:
    void add(const std::string& e) {
        {
            std::lock_guard lock(mutex_);
            seen_.push_back(e);
        }
        changed_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> seen_;
};

std::string objectOf(const sim::Memory& memory) {
    for (const FieldView& v : ViewFields(memory))
        if (v.field->control == std::string_view("TS_object_id")) return v.text;
    return "?";
}

struct Bench {
    std::filesystem::path dir = test::FreshFolder("tk7v-bench");
    Line line;
    Events events;
    ParameterImage image = AsTheWindowBuildsIt(test::StartupImage());
    Numbering numbering{{}, Counter{"TS_object_id", 101, 199}};
    std::unique_ptr<Report> ledger = open("ledger.csv");
    std::unique_ptr<Report> report = open("day1.csv");
    std::unique_ptr<Ledger> server; // the ledger instead, when set

    ~Bench() { std::filesystem::remove_all(dir); }
    std::unique_ptr<Report> open(const std::string& name) {
        std::string error;
        auto r = Report::open((dir / name).string(), error);
        EXPECT_NE(r, nullptr) << error;
        return r;
    }
    std::unique_ptr<Station> station(Report* to = nullptr, bool numbered = true) {
        PortJob::Options options;
        options.ports = [this](const std::string&) { return std::make_unique<BenchPort>(line); };
        ReportTo reportTo{to ? to : report.get(),
                          "write",
                          numbered ? &numbering : nullptr,
                          true,
                          server ? server.get() : ledger.get(),
                          true};
        auto s = std::make_unique<Station>(
            options, events, [this](PortJob& j) { return j.write(image, true); },
            [](PortJob& j, PortJob::Result r) { return WriteEnd(j, r, true, "site.cfg"); }, reportTo);
        s->add("ttyBENCH", 0);
        return s;
    }
};

} // namespace

// Each device put on gets a number of its own, and one taken off keeps its own. Swap: changed at
// the cable's end in the 0.3 s an operator's hands take. A device programmed and still attached
// is left alone whatever starts the station again: Stop and Start, the port taken out and put
// back, a restart with the next day's report on the same ledger, or Silence, the cable's contact
// lost for one probe (misses before the device came, an empty port for a while, count for
// nothing).
TEST(StationBench, EachDeviceOnceWithANumberOfItsOwn) {
    enum How { Swap, StopStart, PortAgain, NextDay, Silence };
    for (const How how : {Swap, StopStart, PortAgain, NextDay, Silence}) {
        SCOPED_TRACE(how);
        Bench b;
        std::unique_ptr<Report> nextDay; // outlives the station that writes to it
        auto station = b.station();
        if (how == Silence) {
            ASSERT_TRUE(b.events.waitFor("waiting"));
            std::this_thread::sleep_for(1500ms); // an empty port, probed again and again
        }
        b.line.plug();
        ASSERT_TRUE(b.events.waitFor("done"));
        if (how == Silence) {
            b.line.unplug();
            ASSERT_TRUE(b.events.waitFor("waiting", 2));
            b.line.plugBack();
        } else if (how == PortAgain) {
            station->remove(0);
            station->add("ttyBENCH", 0);
        } else if (how != Swap) {
            station->stop();
            station->wait();
            if (how == NextDay) nextDay = b.open("day2.csv");
            station = b.station(nextDay.get());
        }
        if (how != Swap) {
            ASSERT_TRUE(b.events.waitFor("held"));
        }
        b.line.unplug();
        std::this_thread::sleep_for(300ms); // the operator's hands, not a wait for the station
        b.line.plug();
        // Found at the pace of a bench: probes wait for the device's answer, not the time-out.
        ASSERT_TRUE(b.events.waitFor("done", 2, 4s));
        station->stop();
        station->wait();
        EXPECT_EQ(objectOf(b.line.memoryOf(1)), "101");
        EXPECT_EQ(objectOf(b.line.memoryOf(2)), "102");
    }
}

// A device cut short by a stop mid-write may hold part of a block: it counts as failed and has its
// record. One whose record the report could not take leaves the run's status at 3, not 0.
TEST(StationBench, EveryDeviceTouchedIsCountedAndEveryLostRecordSaid) {
    for (const bool stopMidWrite : {true, false}) {
        SCOPED_TRACE(stopMidWrite);
        Bench b;
        auto station = b.station(nullptr, false);
        std::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails instead of ending the test
        rlimit saved{};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        b.line.plug([&](int writes) {
            // The identification, the look at what it holds (ten reads), then five chunks.
            if (writes == 16 && stopMidWrite) station->stop();
            if (writes == 16 && !stopMidWrite) {
                rlimit full = saved;
                full.rlim_cur = 1;
                ::setrlimit(RLIMIT_FSIZE, &full);
            }
        });
        ASSERT_TRUE(b.events.waitFor(stopMidWrite ? "failed" : "done"));
        station->stop();
        const RunEnd end = station->wait();
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, SIG_DFL);
        std::ifstream in(b.dir / "day1.csv");
        const std::string report{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        if (stopMidWrite) {
            EXPECT_EQ(end.failed, 1);
            EXPECT_NE(report.find("interrupted"), std::string::npos) << report;
        } else {
            EXPECT_EQ(end.status, kFileFailed);
            EXPECT_NE(end.reportError, "");
        }
    }
}

// The ledger held by another program: the port says so within two seconds, the device is
// programmed once the lock goes, and a stop while it is held ends at once.
TEST(StationBench, ALedgerHeldElsewhereIsSaidAndNeverWaitedForByStop) {
    for (const bool stopWhileHeld : {false, true}) {
        SCOPED_TRACE(stopWhileHeld);
        Bench b;
        const int held = ::open((b.dir / "ledger.csv").c_str(), O_RDWR);
        ASSERT_EQ(::flock(held, LOCK_EX), 0);
        auto station = b.station();
        b.line.plug();
        ASSERT_TRUE(b.events.waitFor("busy", 1, 2500ms));
        if (stopWhileHeld) {
            const auto asked = std::chrono::steady_clock::now();
            station->stop();
            station->wait();
            EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s);
            EXPECT_EQ(b.events.count("done"), 0u);
        } else {
            ::flock(held, LOCK_UN);
            ASSERT_TRUE(b.events.waitFor("done TS_object_id=101"));
            station->stop();
            station->wait();
        }
        ::close(held);
    }
}

// Whatever the cable does, each device has one result, and a port never waits for one that is
// gone. Each case on a bench of its own, all at once: a device plugged back is left alone with its
// number; one pulled mid-write is said to be, and the next, plugged 0.6 s later, is begun within a
// second; the first device after a start is begun within half a second whenever it comes; a
// device left attached while both cores are busy gets one result; a port whose adapter was pulled
// out with its device takes the next device once the adapter is back.
TEST(StationBench, OneResultPerDeviceWhateverTheCableDoes) {
    // The device's whole exchange takes a few milliseconds in memory: done soon after its plug is
    // begun soon after it.
    const auto plugWithin = [](Bench& b, std::chrono::milliseconds within, const std::string& done) {
        const auto plugged = std::chrono::steady_clock::now();
        b.line.plug();
        ASSERT_TRUE(b.events.waitFor(done, 1, 3s));
        EXPECT_LT(std::chrono::steady_clock::now() - plugged, within);
    };
    const auto heldBack = [](std::chrono::milliseconds gap) {
        return [gap](Bench& b) {
            b.line.plug();
            ASSERT_TRUE(b.events.waitFor("done"));
            b.line.unplug();
            std::this_thread::sleep_for(gap); // the operator's hands, not a wait for the station
            b.line.plugBack();
            ASSERT_TRUE(b.events.waitFor("held TS_object_id=101", 1, 3s));
        };
    };
    const struct {
        const char* name;
        std::function<void(Bench&)> play;
        int done, held; // the devices the station counts done, and those it left alone
    } cases[] = {
        {"plugged back after 0.3 s", heldBack(300ms), 1, 1},
        {"plugged back after 1.5 s", heldBack(1500ms), 1, 1},
        {"pulled mid-write, the next 0.6 s later",
         [&](Bench& b) {
             // The identification, the look at its number, then the fifth chunk.
             b.line.plug([&](int writes) {
                 if (writes == 7) b.line.unplug();
             });
             ASSERT_TRUE(
                 b.events.waitFor("failed отключено во время записи: может хранить часть блока", 1, 2s));
             std::this_thread::sleep_for(600ms);
             plugWithin(b, 1s, "done TS_object_id=102");
         },
         1, 0},
        {"the first device 3 s after the start",
         [&](Bench& b) {
             ASSERT_TRUE(b.events.waitFor("waiting"));
             std::this_thread::sleep_for(3s);
             plugWithin(b, 500ms, "done TS_object_id=101");
         },
         1, 0},
        {"attached while both cores are busy",
         [](Bench& b) {
             std::atomic<bool> busy{true};
             std::vector<std::jthread> load;
             for (int i = 0; i < 4; ++i)
                 load.emplace_back([&] {
                     while (busy) {
                     }
                 });
             b.line.plug();
             EXPECT_TRUE(b.events.waitFor("done"));
             std::this_thread::sleep_for(3s);
             busy = false;
         },
         1, 0},
        {"the adapter pulled out with its device",
         [](Bench& b) {
             b.line.plug();
             ASSERT_TRUE(b.events.waitFor("done"));
             b.line.adapter = false;
             b.line.unplug();
             std::this_thread::sleep_for(500ms);
             b.line.plug();
             b.line.adapter = true;
             ASSERT_TRUE(b.events.waitFor("done TS_object_id=102", 1, 3s));
         },
         2, 0},
    };
    std::vector<std::jthread> benches;
    for (const auto& c : cases)
        benches.emplace_back([&c] {
            SCOPED_TRACE(c.name);
            Bench b;
            const std::unique_ptr<Station> station = b.station();
            c.play(b);
            station->stop();
            EXPECT_EQ(station->wait().done, c.done);
            EXPECT_EQ(b.events.count("held"), static_cast<std::size_t>(c.held));
        });
}

#ifdef TK7V_SERVER_TESTS
// Numbers from a server that goes away mid-run: the waiting port says so before a device comes,
// the device that comes meanwhile is not begun (nothing is sent to it), and once the server is
// back it gets the number after the last one committed, and every device's record is on the
// server.
TEST(StationBench, AServerLedgerGoneMidRun) {
    test::TestServer server;
    Bench b;
    std::string error;
    b.server = OpenLedger(server.uri(), {}, 2s, error);
    ASSERT_NE(b.server, nullptr) << error;
    auto station = b.station();
    b.line.plug();
    ASSERT_TRUE(b.events.waitFor("done TS_object_id=101"));
    server.kill();
    b.line.unplug();
    ASSERT_TRUE(b.events.waitFor("unavailable"));
    std::atomic<int> spokenTo{0};
    b.line.plug([&](int) { ++spokenTo; });
    ASSERT_TRUE(b.events.waitFor("unavailable", 3));
    EXPECT_EQ(spokenTo, 0) << "a device begun while the ledger's server was gone";
    server.startAgain();
    ASSERT_TRUE(b.events.waitFor("done TS_object_id=102"));
    station->stop();
    station->wait();
    EXPECT_EQ(objectOf(b.line.memoryOf(1)), "101");
    EXPECT_EQ(objectOf(b.line.memoryOf(2)), "102");
    EXPECT_EQ(b.events.count("failed"), 0u);
    EXPECT_EQ(test::QueryValue(server.uri(), "SELECT string_agg(result, ' ' ORDER BY id) FROM tk7v_records"),
              "claimed done claimed done");
}
#endif

// What a device cannot hold exactly is refused before anything is sent, naming row and field.
TEST(StationPlan, AValueNoDeviceCanHoldIsRefused) {
    const struct {
        std::string table, says;
    } cases[] = {
        {"TS_line_ctrl_tm\n300\n", "строка 2: TS_line_ctrl_tm"},
        {"CS1_phone_1\n495O123\n", "строка 2: CS1_phone_1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.table);
        PlanRequest request;
        request.images = {test::StartupImage()};
        request.valuesName = "t.csv";
        request.valuesText = c.table;
        request.report = "r.csv";
        const CheckedPlan plan = CheckPlan(request);
        ASSERT_TRUE(plan.refused());
        EXPECT_NE(plan.issues.front().text.find(c.says), std::string::npos) << plan.issues.front().text;
    }
}
