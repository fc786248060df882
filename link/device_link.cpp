#include "link/device_link.h"

#include "link/exchange_texts.h"

namespace tk7v {

using namespace std::chrono_literals;

namespace {

class OwnSerialPort final : public DeviceLink::Port {
public:
    SerialPort::OpenResult open(const std::string& path, const PortConfig& config) override {
        return port_.open(path, config);
    }
    bool isOpen() const override { return port_.isOpen(); }
    SysError close() override { return port_.close(); }
    SysError purge() override { return port_.purge(); }
    SysError setRts(bool on) override { return port_.setRts(on); }
    IoStatus write(std::span<const std::uint8_t> bytes) override { return port_.write(bytes); }
    IoStatus read(std::span<std::uint8_t> into, const StopSignal& stop) override {
        return port_.read(into, stop);
    }
    IoStatus write(std::span<const std::uint8_t> bytes, const StopSignal& stop) override {
        return port_.write(bytes, stop);
    }
    void raiseRts() override { port_.raiseRts(); }
    std::size_t discardInput() override { return port_.discardInput(); }
    IoStatus readSome(std::span<std::uint8_t> into, const StopSignal& stop, std::size_t& got) override {
        return port_.readSome(into, stop, got);
    }
    void expect(std::size_t bytes, std::chrono::microseconds soonest,
                std::chrono::microseconds within) override {
        port_.expect(bytes, soonest, within);
    }
    std::chrono::microseconds characterTime() const override { return port_.characterTime(); }

private:
    SerialPort port_;
};

} // namespace

DeviceLink::DeviceLink(Host& host)
    : host_(host), ownPort_(std::make_unique<OwnSerialPort>()), port_(*ownPort_) {}

DeviceLink::~DeviceLink() {
    shutdown();
}

SerialPort::OpenResult DeviceLink::open(const std::string& path, PortConfig config) {
    config.rtsControl = PortConfig::RtsControl::Disable;
    return port_.open(path, config);
}

void DeviceLink::retireWorker() {
    if (!worker_) return;
    waitForWorker();
    worker_.reset(); // joins
}

void DeviceLink::waitForWorker() {
    if (!worker_) return;
    host_.waitForFinish([this] { return worker_->Finished(); });
    worker_->Join();
}

std::unique_ptr<TConnect> DeviceLink::prepare(Operation op, const Block* toWrite) {
    retireWorker();
    // A stale "OK" or reply left on the line must not be taken for the answer to the first
    // command.
    port_.purge();
    done_.reset();
    operation_ = op;
    return toWrite ? std::make_unique<TConnect>(port_, operation_, done_, host_, *toWrite)
                   : std::make_unique<TConnect>(port_, operation_, done_, host_);
}

void DeviceLink::start(Operation op, const Block* toWrite) {
    worker_ = prepare(op, toWrite);
    worker_->Start(thread_, [this] { host_.workerFinished(); });
}

void DeviceLink::runHere(Operation op, const Block* toWrite,
                         std::vector<std::pair<std::size_t, std::size_t>> readOnly) {
    auto worker = prepare(op, toWrite);
    worker->ReadOnly(std::move(readOnly));
    {
        std::lock_guard lock(stopMutex_);
        worker_ = std::move(worker);
        runningHere_ = worker_.get();
        if (stopAsked_) worker_->RequestStop();
    }
    worker_->RunHere();
    std::lock_guard lock(stopMutex_);
    runningHere_ = nullptr;
}

void DeviceLink::requestStop() {
    std::lock_guard lock(stopMutex_);
    stopAsked_ = true;
    if (runningHere_) runningHere_->RequestStop();
}

void DeviceLink::clearStop() {
    std::lock_guard lock(stopMutex_);
    stopAsked_ = false;
}

void DeviceLink::stopAndWait() {
    if (workerRunning()) worker_->RequestStop();
    operation_ = opIdle;
    // Called from inside a hand-off (a conversion that failed in CollectBlock or DeliverBlock
    // stops the exchange there), the worker waits for this very call to return: it sees the
    // stop as soon as the hand-off ends, and waiting here would only hold the owner.
    if (host_.inHandoff()) return;
    host_.waitForDone(done_, 3000ms);
}

DeviceLink::Stopped DeviceLink::closePort() {
    port_.setRts(false);
    return port_.close() ? Stopped::CloseFailed : Stopped::PortClosed;
}

DeviceLink::Stopped DeviceLink::abort() {
    const int op = operation_.load();
    if (op != opConnect && op != opRead && op != opWrite) {
        operation_ = opIdle;
        return Stopped::Nothing;
    }
    stopAndWait();
    return op == opConnect ? closePort() : Stopped::Transfer;
}

SysError DeviceLink::resetDevice(const std::function<void(const std::string&)>& status) {
    const auto say = [&](const char* text) {
        if (status) status(text);
    };
    if (const SysError e = port_.setRts(false)) return e;
    say("");
    if (const SysError e = port_.purge()) return e;
    const IoStatus written = port_.write(protocol::kReset);
    if (written.kind != IoStatus::Ok) return MakeSysError(written.code);
    say(texts::kDisconnected);
    return {};
}

DeviceLink::Stopped DeviceLink::close() {
    stopAndWait();
    return closePort();
}

SysError DeviceLink::disconnect() {
    const SysError e = resetDevice();
    if (!e || e.kind == ErrorKind::DeviceGone) close();
    return e;
}

void DeviceLink::shutdown() {
    // Stop first, then release the hand-offs: a worker let out of CollectBlock must already see
    // the stop, or it would go on to write a block it never received. Closing the port ends any
    // wait of the worker's; then it is joined.
    if (worker_) worker_->RequestStop();
    host_.detach();
    if (port_.isOpen()) {
        port_.purge();
        port_.close();
    }
    worker_.reset();
}

} // namespace tk7v
