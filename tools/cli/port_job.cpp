#include "port_job.h"

#include "link/exchange_texts.h"
#include "link/port_list.h"
#include "model/field_rules.h"

#include <string_view>

namespace tk7v::cli {

using namespace std::chrono_literals;

PortJob::PortJob(std::string port, PortConfig config, Progress& progress, int line)
    : port_(std::move(port)), config_(config), progress_(progress), line_(line) {}

void PortJob::interrupt() {
    interrupted_ = true;
    ended_.set();
}

bool PortJob::open() {
    const auto r = link_.open(PortPath(port_), config_);
    if (r.stage == SerialPort::OpenResult::Opened) return true;
    error_ = r.stage == SerialPort::OpenResult::OpenFailed
                 ? "Невозможно подключиться к порту " + port_ + ": " + SystemErrorText(r.error.code)
                 : "Неверные установки соединения";
    return false;
}

PortJob::Ended PortJob::exchange(void (DeviceLink::*start)(),
                                 std::optional<std::chrono::milliseconds> timeout) {
    ended_.reset();
    succeeded_ = false;
    if (interrupted_) return Ended::Interrupt;
    (link_.*start)();
    bool ended = false;
    if (timeout)
        ended = ended_.wait(*timeout);
    else
        while (!(ended = ended_.wait(24h))) {
        }
    if (interrupted_ || !ended) {
        // Between chunks or while waiting for an answer: a chunk once started goes out whole.
        link_.abort();
        link_.waitForWorker();
        return interrupted_ ? Ended::Interrupt : Ended::Timeout;
    }
    link_.waitForWorker();
    return succeeded_ ? Ended::Success : Ended::Failure;
}

PortJob::Result PortJob::finish(Ended e) {
    // Whatever happened, the device is told to reset (unless the identification was cut short,
    // which closes without sending) and the port is closed with its settings restored.
    if (link_.isOpen()) {
        const SysError failed = link_.disconnect();
        if (failed && error_.empty()) error_ = SystemErrorText(failed.code);
    }
    if (link_.isOpen()) link_.shutdown();
    switch (e) {
    case Ended::Success:
        return error_.empty() ? Result::Done : Result::Failed;
    case Ended::Interrupt:
        return Result::Interrupted;
    case Ended::Timeout:
        return Result::NoAnswer;
    case Ended::Failure:
        if (error_.empty()) error_ = texts::kCancelled;
        return Result::Failed;
    }
    return Result::Failed;
}

PortJob::Result PortJob::identify(std::optional<std::chrono::milliseconds> timeout) {
    if (!open()) return Result::Failed;
    return finish(exchange(&DeviceLink::identify, timeout));
}

PortJob::Result PortJob::read() {
    if (!open()) return Result::Failed;
    Ended e = exchange(&DeviceLink::identify);
    if (e == Ended::Success) e = exchange(&DeviceLink::read);
    return finish(e);
}

PortJob::Result PortJob::readAndCompare(const ParameterImage& image) {
    Ended e = exchange(&DeviceLink::read);
    if (e == Ended::Success && !DiffFields(block_, image).empty()) {
        verifyFailed_ = true;
        error_ = "проверка не пройдена, поля различаются:";
    }
    return finish(e);
}

PortJob::Result PortJob::write(const ParameterImage& image, bool verify) {
    toWrite_ = image;
    if (!open()) return Result::Failed;
    Ended e = exchange(&DeviceLink::identify);
    if (e == Ended::Success) e = exchange(&DeviceLink::write);
    if (e == Ended::Success && verify) return readAndCompare(image);
    return finish(e);
}

PortJob::Result PortJob::verify(const ParameterImage& image) {
    if (!open()) return Result::Failed;
    const Ended e = exchange(&DeviceLink::identify);
    if (e != Ended::Success) return finish(e);
    return readAndCompare(image);
}

// Hand-offs: they run on the worker's thread, which waits for each.

void PortJob::PostStatus(const std::string& text) {
    progress_.update(line_, text);
    const std::string_view connected = texts::kConnected;
    if (text.starts_with(connected)) ident_ = text.substr(connected.size());
    if (text == texts::kCancelled) ended_.set();
}

void PortJob::ReportIoError(std::uint32_t code) {
    error_ = SystemErrorText(code);
    progress_.update(line_, texts::kErrorPrefix + error_);
}

void PortJob::DeliverBlock(const Block& block) {
    std::copy(block.begin(), block.end(), block_.begin());
}

void PortJob::CollectBlock(Block& block) {
    std::copy(toWrite_.begin(), toWrite_.end(), block.begin());
    wroteSomething_ = true;
}

void PortJob::RestoreControls() {
    succeeded_ = true;
    ended_.set();
}

} // namespace tk7v::cli
