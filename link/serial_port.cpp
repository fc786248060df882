// The serial port's shared core: the locks that keep the OS handle alive while anyone uses it,
// the loops that move every byte, and the bounded helper a close drains on. The system calls are
// in serial_port_posix.cpp and serial_port_win32.cpp.
#include "link/serial_core.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <shared_mutex>
#include <thread>
#include <utility>

namespace tk7v {

bool RunBounded(std::function<bool()> work, const std::function<void()>& cancel,
                std::chrono::milliseconds bound) {
    // The state is shared with the helper, which may outlive this call.
    struct State {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
        bool result = false;
    };
    auto state = std::make_shared<State>();
    std::thread helper([state, work = std::move(work)] {
        const bool result = work();
        {
            std::lock_guard lock(state->mutex);
            state->done = true;
            state->result = result;
        }
        state->cv.notify_all();
    });
    std::unique_lock lock(state->mutex);
    if (!state->cv.wait_for(lock, bound, [&] { return state->done; })) {
        lock.unlock();
        cancel();
        lock.lock();
        if (!state->cv.wait_for(lock, kCancelGrace, [&] { return state->done; })) {
            helper.detach();
            return false;
        }
    }
    lock.unlock();
    helper.join();
    return state->result;
}

namespace {

SystemPortMaker& systemPortMaker() {
    static SystemPortMaker maker;
    return maker;
}

} // namespace

SystemPortMaker ReplaceSystemPortMaker(SystemPortMaker maker) {
    return std::exchange(systemPortMaker(), std::move(maker));
}

struct SerialPort::Impl {
    Impl() : system(systemPortMaker() ? systemPortMaker()(closing) : SystemPort::create(closing)) {}

    IoStatus write(std::span<const std::uint8_t> bytes, const StopSignal* stop) {
        // One writer at a time, so the window's "RESET\r" never lands inside a worker's chunk.
        std::lock_guard w(writeMutex);
        std::shared_lock lock(ioLock);
        if (!system->isOpen()) return IoStatus::failed(system->notOpenCode());
        std::size_t done = 0;
        while (done < bytes.size()) {
            if (stop && stop->requested()) return IoStatus::stopped();
            std::size_t sent = 0;
            const IoStatus s = system->writeSome(bytes.subspan(done), stop, sent);
            if (s.kind != IoStatus::Ok) return s;
            done += sent;
            const auto now = std::chrono::steady_clock::now();
            lineFreeAt = std::max(now, lineFreeAt) + characterTime * static_cast<long>(sent);
        }
        return IoStatus::ok();
    }

    // Waits until the bytes written so far can have crossed the line, or the port is closed.
    // Not every port can tell when its output has left (a pseudo-terminal says at once, a USB
    // adapter may say early), so the line's own pace gives the first bound; two characters
    // more cover a late start of the transmitter. Called with writeMutex held.
    void waitForLine() {
        const auto until =
            std::min(lineFreeAt + 2 * characterTime, std::chrono::steady_clock::now() + kDrainBound);
        std::unique_lock l(lineMutex);
        lineCv.wait_until(l, until, [&] { return closeRequested; });
    }

    mutable std::shared_mutex ioLock; // shared: an operation in progress; exclusive: open/close
    // Held by a write while it moves its bytes and by a purge while it drains: the purge never
    // discards a command that is still being handed over.
    std::timed_mutex writeMutex;
    std::chrono::microseconds characterTime{0};
    std::chrono::steady_clock::time_point lineFreeAt{}; // under writeMutex
    std::mutex lineMutex;
    std::condition_variable lineCv;
    bool closeRequested = false; // under lineMutex
    WakeSignal closing;          // signalled while the port is being closed: wakes every wait
    std::unique_ptr<SystemPort> system;
};

SerialPort::SerialPort() : d_(std::make_unique<Impl>()) {}

SerialPort::~SerialPort() {
    close();
}

bool SerialPort::lowLatencyRequested() const {
    return d_->system->lowLatencyRequested();
}

bool SerialPort::isOpen() const {
    std::shared_lock lock(d_->ioLock);
    return d_->system->isOpen();
}

SerialPort::OpenResult SerialPort::open(const std::string& path, const PortConfig& config) {
    close();
    std::unique_lock lock(d_->ioLock);
    d_->closing.clear();
    {
        std::lock_guard l(d_->lineMutex);
        d_->closeRequested = false;
    }
    d_->characterTime = config.characterTime();
    return d_->system->open(path, config);
}

SysError SerialPort::close() {
    if (!isOpen()) return {};
    {
        // With nobody inside the port, the bytes written last (a disconnect's "RESET\r") are
        // given their time on the line here, and when the driver then holds none the close has
        // nothing to drain and starts no helper for it.
        std::unique_lock w(d_->writeMutex, std::try_to_lock);
        std::unique_lock lock(d_->ioLock, std::try_to_lock);
        if (w.owns_lock() && lock.owns_lock()) {
            if (!d_->system->isOpen()) return {};
            d_->waitForLine();
            return d_->system->close(d_->system->outputHeld() ? kDrainBound : std::chrono::milliseconds{});
        }
    }
    // Someone is inside: wake the waits first, they hold the shared lock that the close needs
    // exclusively.
    {
        std::lock_guard l(d_->lineMutex);
        d_->closeRequested = true;
    }
    d_->lineCv.notify_all();
    d_->closing.signal();
    std::unique_lock lock(d_->ioLock);
    if (!d_->system->isOpen()) return {};
    // What was written last leaves at the speed it was written with before the previous
    // settings come back.
    return d_->system->close(kDrainBound);
}

SysError SerialPort::purge() {
    // A writer held up for longer than the drain bound (flow control that never releases) must
    // not hold the purge up with it: the purge then goes on without the lock.
    // The bound is on the system clock: a timed lock on the steady clock is one ThreadSanitizer
    // does not follow, and a clock step only moves the end of a wait that is there for a writer
    // that never ends.
    std::unique_lock w(d_->writeMutex, std::defer_lock);
    if (w.try_lock() || w.try_lock_until(std::chrono::system_clock::now() + kDrainBound)) d_->waitForLine();
    std::shared_lock lock(d_->ioLock);
    if (!d_->system->isOpen()) return MakeSysError(d_->system->notOpenCode());
    // The drain runs on a helper thread; with nothing queued in the driver (the usual case at the
    // start of an exchange) there is nothing to wait for and no thread to start.
    return d_->system->purge(d_->system->outputHeld() ? kDrainBound : std::chrono::milliseconds{});
}

std::size_t SerialPort::discardInput() {
    std::shared_lock lock(d_->ioLock);
    return d_->system->isOpen() ? d_->system->discardInput() : 0;
}

std::chrono::microseconds SerialPort::characterTime() const {
    return d_->characterTime;
}

void SerialPort::expect(std::size_t bytes, std::chrono::microseconds soonest,
                        std::chrono::microseconds within) {
    std::shared_lock lock(d_->ioLock);
    if (d_->system->isOpen()) d_->system->expect(bytes, soonest, within);
}

SysError SerialPort::setRts(bool on) {
    std::shared_lock lock(d_->ioLock);
    if (!d_->system->isOpen()) return MakeSysError(d_->system->notOpenCode());
    return d_->system->setRts(on);
}

IoStatus SerialPort::read(std::span<std::uint8_t> into, const StopSignal& stop) {
    std::shared_lock lock(d_->ioLock);
    if (!d_->system->isOpen()) return IoStatus::failed(d_->system->notOpenCode());
    std::size_t done = 0;
    while (done < into.size()) {
        if (stop.requested()) return IoStatus::stopped();
        std::size_t got = 0;
        const IoStatus s = d_->system->readSome(into.subspan(done), stop, got);
        done += got;
        if (s.kind != IoStatus::Ok) return s;
    }
    return IoStatus::ok();
}

IoStatus SerialPort::readSome(std::span<std::uint8_t> into, const StopSignal& stop, std::size_t& got) {
    std::shared_lock lock(d_->ioLock);
    got = 0;
    if (!d_->system->isOpen()) return IoStatus::failed(d_->system->notOpenCode());
    // A purge may end a wait with nothing read; that is no answer yet.
    while (got == 0) {
        if (stop.requested()) return IoStatus::stopped();
        const IoStatus s = d_->system->readSome(into, stop, got);
        if (s.kind != IoStatus::Ok) return s;
    }
    return IoStatus::ok();
}

IoStatus SerialPort::write(std::span<const std::uint8_t> bytes, const StopSignal& stop) {
    return d_->write(bytes, &stop);
}

IoStatus SerialPort::write(std::span<const std::uint8_t> bytes) {
    // Without a stop signal of its own, the only thing that ends the write early is a close: for
    // this caller the port is gone.
    const IoStatus s = d_->write(bytes, nullptr);
    return s.kind == IoStatus::Stopped ? IoStatus::failed(d_->system->notOpenCode()) : s;
}

} // namespace tk7v
