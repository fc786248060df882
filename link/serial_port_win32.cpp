// The serial port on Windows: CreateFileA on "\\.\COMn" for overlapped I/O, SetCommState and
// all-zero time-outs (a read completes only when all its bytes have arrived), PurgeComm,
// EscapeCommFunction for RTS. Every wait includes the stop request and the close, and ends a
// pending transfer with CancelIoEx (under Wine a purge does not end a pending read).
#include "link/serial_port.h"

#include "link/serial_port_win32.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <thread>
#include <windows.h>

namespace tk7v {

namespace {

std::uint32_t lastError() {
    return static_cast<std::uint32_t>(::GetLastError());
}

// FlushFileBuffers has no time-out of its own; a dead adapter could hold it for ever. It runs
// on a helper thread with a handle of its own; past the bound the output is discarded, which
// ends it, and a helper that still does not return is left to finish alone.
void drainBounded(HANDLE h, std::chrono::milliseconds bound) {
    HANDLE own = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), h, ::GetCurrentProcess(), &own, 0, FALSE,
                           DUPLICATE_SAME_ACCESS))
        return;
    struct State {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
    };
    auto state = std::make_shared<State>();
    std::thread helper([state, own] {
        ::FlushFileBuffers(own);
        ::CloseHandle(own);
        std::lock_guard lock(state->mutex);
        state->done = true;
        state->cv.notify_all();
    });
    std::unique_lock lock(state->mutex);
    if (!state->cv.wait_for(lock, bound, [&] { return state->done; })) {
        ::PurgeComm(h, PURGE_TXABORT | PURGE_TXCLEAR);
        if (!state->cv.wait_for(lock, std::chrono::milliseconds(100), [&] { return state->done; })) {
            lock.unlock();
            helper.detach();
            return;
        }
    }
    lock.unlock();
    helper.join();
}

} // namespace

DCB DcbFor(const PortConfig& config, DCB dcb) {
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = config.baudRate;
    dcb.ByteSize = config.byteSize;
    dcb.Parity = static_cast<BYTE>(config.parity);
    dcb.StopBits = static_cast<BYTE>(config.stopBits);
    dcb.fBinary = TRUE;
    dcb.fParity = config.parity != PortConfig::Parity::None;
    dcb.fOutxCtsFlow = config.outxCtsFlow && config.rtsControl == PortConfig::RtsControl::Handshake;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = FALSE;
    dcb.fOutX = config.outX;
    dcb.fInX = config.inX;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = static_cast<DWORD>(config.rtsControl);
    dcb.fAbortOnError = FALSE;
    dcb.XonLim = 0;
    dcb.XoffLim = 0;
    dcb.XonChar = static_cast<char>(config.xonChar);
    dcb.XoffChar = static_cast<char>(config.xoffChar);
    return dcb;
}

PortConfig ConfigFrom(const DCB& dcb, PortConfig c) {
    c.baudRate = dcb.BaudRate;
    c.byteSize = dcb.ByteSize;
    c.parity = static_cast<PortConfig::Parity>(dcb.Parity);
    c.stopBits = static_cast<PortConfig::StopBits>(dcb.StopBits);
    c.outxCtsFlow = dcb.fOutxCtsFlow;
    c.rtsControl = static_cast<PortConfig::RtsControl>(dcb.fRtsControl);
    c.outX = dcb.fOutX;
    c.inX = dcb.fInX;
    c.xonChar = static_cast<std::uint8_t>(dcb.XonChar);
    c.xoffChar = static_cast<std::uint8_t>(dcb.XoffChar);
    return c;
}

struct SerialPort::Impl {
    Impl()
        : closeEvent(::CreateEventA(nullptr, TRUE, FALSE, nullptr)),
          readEvent(::CreateEventA(nullptr, TRUE, FALSE, nullptr)),
          writeEvent(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Impl() {
        ::CloseHandle(closeEvent);
        ::CloseHandle(readEvent);
        ::CloseHandle(writeEvent);
    }

    // Waits for an overlapped transfer to end. A stop or a close cancels it and waits until the
    // cancel is through, so the buffer is free when this returns.
    IoStatus complete(OVERLAPPED& ov, DWORD& transferred, const StopSignal* stop) {
        HANDLE waits[3] = {ov.hEvent, closeEvent,
                           stop ? reinterpret_cast<HANDLE>(stop->nativeHandle()) : nullptr};
        const DWORD r = ::WaitForMultipleObjects(stop ? 3 : 2, waits, FALSE, INFINITE);
        if (r != WAIT_OBJECT_0) {
            ::CancelIoEx(h, &ov);
            ::GetOverlappedResult(h, &ov, &transferred, TRUE);
            return IoStatus::stopped();
        }
        if (!::GetOverlappedResult(h, &ov, &transferred, FALSE)) return IoStatus::failed(lastError());
        return IoStatus::ok();
    }

    IoStatus write(std::span<const std::uint8_t> bytes, const StopSignal* stop) {
        std::lock_guard w(writeMutex);
        std::shared_lock lock(ioLock);
        if (h == INVALID_HANDLE_VALUE) return IoStatus::failed(ERROR_INVALID_HANDLE);
        std::size_t done = 0;
        while (done < bytes.size()) {
            if (stop && stop->requested()) return IoStatus::stopped();
            OVERLAPPED ov{};
            ov.hEvent = writeEvent;
            ::ResetEvent(writeEvent);
            DWORD sent = 0;
            if (!::WriteFile(h, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), nullptr, &ov) &&
                ::GetLastError() != ERROR_IO_PENDING)
                return IoStatus::failed(lastError());
            // A write aborted by a purge is an error, unlike a read.
            const IoStatus s = complete(ov, sent, stop);
            if (s.kind != IoStatus::Ok) return s;
            done += sent;
        }
        return IoStatus::ok();
    }

    mutable std::shared_mutex ioLock; // shared: an operation in progress; exclusive: open/close
    std::mutex writeMutex;
    HANDLE h = INVALID_HANDLE_VALUE;
    HANDLE closeEvent; // set while the port is being closed: wakes every wait
    // The worker's reads and the writes (the worker's, or the window's "RESET\r") have records
    // of their own, so the two never share one.
    HANDLE readEvent;
    HANDLE writeEvent;
    DCB saved{};
    bool haveSaved = false;
};

SerialPort::SerialPort() : d_(std::make_unique<Impl>()) {}

SerialPort::~SerialPort() {
    close();
}

bool SerialPort::lowLatencyRequested() const {
    return false;
}

bool SerialPort::isOpen() const {
    std::shared_lock lock(d_->ioLock);
    return d_->h != INVALID_HANDLE_VALUE;
}

SerialPort::OpenResult SerialPort::open(const std::string& path, const PortConfig& config) {
    close();
    std::unique_lock lock(d_->ioLock);
    const HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) return {OpenResult::OpenFailed, MakeSysError(lastError())};
    d_->saved = DCB{};
    d_->saved.DCBlength = sizeof(DCB);
    d_->haveSaved = ::GetCommState(h, &d_->saved);
    COMMTIMEOUTS none{}; // no time-outs: a read completes when all its bytes have arrived
    ::SetCommTimeouts(h, &none);
    DCB dcb = DcbFor(config, d_->saved);
    if (!::SetCommState(h, &dcb)) {
        const std::uint32_t err = lastError();
        ::CloseHandle(h);
        return {OpenResult::ConfigFailed, MakeSysError(err)};
    }
    // A port without modem lines refuses these; a real one has them low afterwards.
    ::EscapeCommFunction(h, CLRDTR);
    ::EscapeCommFunction(h, CLRRTS);
    ::ResetEvent(d_->closeEvent);
    d_->h = h;
    return {};
}

SysError SerialPort::close() {
    if (!isOpen()) return {};
    ::SetEvent(d_->closeEvent);
    std::unique_lock lock(d_->ioLock);
    if (d_->h == INVALID_HANDLE_VALUE) return {};
    // What was written last (the "RESET\r" of a disconnect) leaves at the speed it was written
    // with before the previous settings come back.
    drainBounded(d_->h, kDrainBound);
    if (d_->haveSaved) ::SetCommState(d_->h, &d_->saved);
    const bool closed = ::CloseHandle(d_->h);
    const std::uint32_t err = lastError();
    d_->h = INVALID_HANDLE_VALUE;
    return closed ? SysError{} : MakeSysError(err);
}

SysError SerialPort::purge() {
    std::shared_lock lock(d_->ioLock);
    if (d_->h == INVALID_HANDLE_VALUE) return MakeSysError(ERROR_INVALID_HANDLE);
    if (!::PurgeComm(d_->h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR))
        return MakeSysError(lastError());
    return {};
}

SysError SerialPort::setRts(bool on) {
    std::shared_lock lock(d_->ioLock);
    if (d_->h == INVALID_HANDLE_VALUE) return MakeSysError(ERROR_INVALID_HANDLE);
    // A port without modem lines (a pseudo-terminal under Wine) answers ERROR_NOT_SUPPORTED:
    // nothing to do, not an error.
    if (!::EscapeCommFunction(d_->h, on ? SETRTS : CLRRTS) && ::GetLastError() != ERROR_NOT_SUPPORTED)
        return MakeSysError(lastError());
    return {};
}

IoStatus SerialPort::read(std::span<std::uint8_t> into, const StopSignal& stop) {
    std::shared_lock lock(d_->ioLock);
    if (d_->h == INVALID_HANDLE_VALUE) return IoStatus::failed(ERROR_INVALID_HANDLE);
    std::size_t done = 0;
    while (done < into.size()) {
        if (stop.requested()) return IoStatus::stopped();
        OVERLAPPED ov{};
        ov.hEvent = d_->readEvent;
        ::ResetEvent(d_->readEvent);
        DWORD got = 0;
        if (!::ReadFile(d_->h, into.data() + done, static_cast<DWORD>(into.size() - done), nullptr, &ov) &&
            ::GetLastError() != ERROR_IO_PENDING)
            return IoStatus::failed(lastError());
        const IoStatus s = d_->complete(ov, got, &stop);
        done += got;
        // A read aborted by a purge of the port looks like one still pending: it goes on.
        if (s.kind == IoStatus::Failed && s.code == ERROR_OPERATION_ABORTED) continue;
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
    return s.kind == IoStatus::Stopped ? IoStatus::failed(ERROR_INVALID_HANDLE) : s;
}

} // namespace tk7v
