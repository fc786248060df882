// The serial port's Windows system calls: CreateFileA on "\\.\COMn" for overlapped I/O,
// SetCommState and all-zero time-outs (a read completes only when all its bytes have arrived),
// PurgeComm, EscapeCommFunction for RTS. Every wait includes the stop request and the close, and
// ends a pending transfer with CancelIoEx (under Wine a purge does not end a pending read).
#include "link/serial_port_win32.h"

#include "link/serial_core.h"

#include <algorithm>
#include <memory>
#include <windows.h>

namespace tk7v {

namespace {

std::uint32_t lastError() {
    return static_cast<std::uint32_t>(::GetLastError());
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

namespace {

HANDLE handleOf(const WakeSignal& signal) {
    return reinterpret_cast<HANDLE>(signal.nativeHandle());
}

class Win32Port : public SystemPort {
public:
    explicit Win32Port(const WakeSignal& closing)
        : closing_(handleOf(closing)), readEvent_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)),
          writeEvent_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Win32Port() override {
        ::CloseHandle(readEvent_);
        ::CloseHandle(writeEvent_);
    }

    std::uint32_t notOpenCode() const override { return ERROR_INVALID_HANDLE; }
    bool isOpen() const override { return h_ != INVALID_HANDLE_VALUE; }

    SerialPort::OpenResult open(const std::string& path, const PortConfig& config) override {
        using OpenResult = SerialPort::OpenResult;
        const HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_OVERLAPPED, nullptr);
        if (h == INVALID_HANDLE_VALUE) return {OpenResult::OpenFailed, MakeSysError(lastError())};
        saved_ = DCB{};
        saved_.DCBlength = sizeof(DCB);
        haveSaved_ = ::GetCommState(h, &saved_);
        COMMTIMEOUTS none{}; // no time-outs: a read completes when all its bytes have arrived
        ::SetCommTimeouts(h, &none);
        DCB dcb = DcbFor(config, saved_);
        if (!::SetCommState(h, &dcb)) {
            const std::uint32_t err = lastError();
            ::CloseHandle(h);
            return {OpenResult::ConfigFailed, MakeSysError(err)};
        }
        // A port without modem lines refuses these; a real one has them low afterwards.
        ::EscapeCommFunction(h, CLRDTR);
        ::EscapeCommFunction(h, CLRRTS);
        h_ = h;
        return {};
    }

    bool outputHeld() const override {
        DWORD errors = 0;
        COMSTAT state{};
        return !::ClearCommError(h_, &errors, &state) || state.cbOutQue > 0;
    }

    SysError close(std::chrono::milliseconds drainBound) override {
        drain(drainBound);
        if (haveSaved_) ::SetCommState(h_, &saved_);
        const bool closed = ::CloseHandle(h_);
        const std::uint32_t err = lastError();
        h_ = INVALID_HANDLE_VALUE;
        return closed ? SysError{} : MakeSysError(err);
    }

    SysError purge(std::chrono::milliseconds drainBound) override {
        drain(drainBound);
        if (!::PurgeComm(h_, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR))
            return MakeSysError(lastError());
        return {};
    }

    std::size_t discardInput() override {
        const std::size_t waiting = inputWaiting();
        ::PurgeComm(h_, PURGE_RXCLEAR);
        return waiting;
    }

    SysError setRts(bool on) override {
        // A port without modem lines (a pseudo-terminal under Wine) answers ERROR_NOT_SUPPORTED:
        // nothing to do, not an error.
        if (!::EscapeCommFunction(h_, on ? SETRTS : CLRRTS) && ::GetLastError() != ERROR_NOT_SUPPORTED)
            return MakeSysError(lastError());
        return {};
    }

    IoStatus readSome(std::span<std::uint8_t> into, const StopSignal& stop, std::size_t& got) override {
        // With all-zero time-outs a read completes only once its whole buffer is full: it asks
        // for what the port holds already, or for the one byte that ends the wait.
        const DWORD want = static_cast<DWORD>(std::clamp<std::size_t>(inputWaiting(), 1, into.size()));
        OVERLAPPED ov{};
        ov.hEvent = readEvent_;
        ::ResetEvent(readEvent_);
        if (!::ReadFile(h_, into.data(), want, nullptr, &ov) && ::GetLastError() != ERROR_IO_PENDING)
            return IoStatus::failed(lastError());
        DWORD n = 0;
        const IoStatus s = complete(ov, n, &stop);
        got = n;
        // A read aborted by a purge of the port looks like one still pending: it goes on.
        if (s.kind == IoStatus::Failed && s.code == ERROR_OPERATION_ABORTED) return IoStatus::ok();
        return s;
    }

    IoStatus writeSome(std::span<const std::uint8_t> bytes, const StopSignal* stop,
                       std::size_t& sent) override {
        OVERLAPPED ov{};
        ov.hEvent = writeEvent_;
        ::ResetEvent(writeEvent_);
        if (!::WriteFile(h_, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &ov) &&
            ::GetLastError() != ERROR_IO_PENDING)
            return IoStatus::failed(lastError());
        // A write aborted by a purge is an error, unlike a read.
        DWORD n = 0;
        const IoStatus s = complete(ov, n, stop);
        if (s.kind == IoStatus::Ok) sent = n;
        return s;
    }

private:
    std::size_t inputWaiting() const {
        DWORD errors = 0;
        COMSTAT state{};
        return ::ClearCommError(h_, &errors, &state) ? state.cbInQue : 0;
    }

    // Waits until the output has left the port. FlushFileBuffers has no time-out of its own; a
    // dead adapter could hold it for ever. It runs with a handle of its own, and discarding the
    // output ends it. A bound of zero: the core found nothing queued, and no helper starts.
    void drain(std::chrono::milliseconds bound) {
        HANDLE own = nullptr;
        if (bound.count() > 0 && ::DuplicateHandle(::GetCurrentProcess(), h_, ::GetCurrentProcess(), &own, 0,
                                                   FALSE, DUPLICATE_SAME_ACCESS))
            RunBounded(
                [own] {
                    const bool ok = ::FlushFileBuffers(own);
                    ::CloseHandle(own);
                    return ok;
                },
                [h = h_] { ::PurgeComm(h, PURGE_TXABORT | PURGE_TXCLEAR); }, bound);
    }

    // Waits for an overlapped transfer to end. A stop or a close cancels it and waits until the
    // cancel is through, so the buffer is free when this returns.
    IoStatus complete(OVERLAPPED& ov, DWORD& transferred, const StopSignal* stop) {
        HANDLE waits[3] = {ov.hEvent, closing_,
                           stop ? reinterpret_cast<HANDLE>(stop->nativeHandle()) : nullptr};
        const DWORD r = ::WaitForMultipleObjects(stop ? 3 : 2, waits, FALSE, INFINITE);
        if (r != WAIT_OBJECT_0) {
            ::CancelIoEx(h_, &ov);
            ::GetOverlappedResult(h_, &ov, &transferred, TRUE);
            return IoStatus::stopped();
        }
        if (!::GetOverlappedResult(h_, &ov, &transferred, FALSE)) return IoStatus::failed(lastError());
        return IoStatus::ok();
    }

    HANDLE closing_;
    HANDLE h_ = INVALID_HANDLE_VALUE;
    // The worker's reads and the writes (the worker's, or the window's "RESET\r") have records
    // of their own, so the two never share one.
    HANDLE readEvent_;
    HANDLE writeEvent_;
    DCB saved_{};
    bool haveSaved_ = false;
};

} // namespace

std::unique_ptr<SystemPort> SystemPort::create(const WakeSignal& closing) {
    return std::make_unique<Win32Port>(closing);
}

} // namespace tk7v
