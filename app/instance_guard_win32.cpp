// The single-instance guard on Windows: a 4-byte block of named shared memory on the paging file,
// open to every account, holding the first instance's window handle. A later instance that
// finds the block hands its file to that window in a WM_COPYDATA message, brings the window (or
// its last active popup) forward and ends.
#include "app/instance_guard.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <QWidget>

#include <string>

#include <windows.h>

namespace tk7v {

namespace {

// Shows a window without the minimise/restore animation, which would otherwise play on a
// window brought forward.
void ShowWindowNoAnimation(HWND window, int command) {
    ANIMATIONINFO info{sizeof(ANIMATIONINFO), 0};
    if (::SystemParametersInfoA(SPI_GETANIMATION, sizeof info, &info, 0) && info.iMinAnimate) {
        ANIMATIONINFO off{sizeof(ANIMATIONINFO), 0};
        ::SystemParametersInfoA(SPI_SETANIMATION, sizeof off, &off, 0);
        ::ShowWindow(window, command);
        ANIMATIONINFO on{sizeof(ANIMATIONINFO), 1};
        ::SystemParametersInfoA(SPI_SETANIMATION, sizeof on, &on, 0);
    } else {
        ::ShowWindow(window, command);
    }
}

bool ActivatePreviousInstance(HWND window) {
    if (!::IsWindow(window)) return false;
    if (::IsIconic(window)) {
        ::SendMessageA(window, WM_SYSCOMMAND, SC_RESTORE, 0);
        return true;
    }
    ShowWindowNoAnimation(window, SW_SHOWNOACTIVATE);
    const HWND popup = ::GetLastActivePopup(window);
    if (popup != window && ::IsWindowVisible(popup) && ::IsWindowEnabled(popup)) {
        ::SetForegroundWindow(popup);
    } else if (popup) {
        ShowWindowNoAnimation(popup, SW_SHOW);
        ::SetForegroundWindow(popup);
    }
    return true;
}

// Marks a WM_COPYDATA message as a file handed over ("TK7V"); the data is the path in UTF-16.
constexpr ULONG_PTR kHandOverTag = 0x544B3756;

// The first instance's side: a file handed to its published window, taken while the message is
// being sent (the data lives only that long) and opened later from the event loop, so the
// sender is released at once and a box the opening shows is not run inside the message.
class HandOverFilter : public QAbstractNativeEventFilter {
public:
    explicit HandOverFilter(std::function<void(const QString&)> open) : open_(std::move(open)) {}
    HWND window = nullptr;

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr* result) override {
        if (type != "windows_generic_MSG") return false;
        const MSG* msg = static_cast<const MSG*>(message);
        if (msg->message != WM_COPYDATA || !window || msg->hwnd != window) return false;
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(msg->lParam);
        if (!data || data->dwData != kHandOverTag || !data->lpData) return false;
        QString path = QString::fromWCharArray(static_cast<const wchar_t*>(data->lpData),
                                               static_cast<qsizetype>(data->cbData / sizeof(wchar_t)));
        while (path.endsWith(QChar(0)))
            path.chop(1);
        if (!path.isEmpty())
            QTimer::singleShot(0, qApp, [open = open_, path] { OpenWhenNoDialogIsOpen(path, open); });
        if (result) *result = TRUE;
        return true;
    }

private:
    std::function<void(const QString&)> open_;
};

} // namespace

struct InstanceGuard::Impl {
    std::unique_ptr<HandOverFilter> handOver;
    HANDLE mapping = nullptr;
    volatile LONG* view = nullptr; // the window handle, 32 bits
    bool first = false;

    void release() {
        if (view) ::UnmapViewOfFile(const_cast<LONG*>(view));
        if (mapping) ::CloseHandle(mapping);
        view = nullptr;
        mapping = nullptr;
    }
};

InstanceGuard::InstanceGuard(QString) : d_(std::make_unique<Impl>()) {}

InstanceGuard::~InstanceGuard() {
    if (d_->handOver && QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(d_->handOver.get());
    if (d_->first) d_->release();
}

bool InstanceGuard::lock() {
    SECURITY_DESCRIPTOR sd;
    if (!::InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE))
        return false;
    SECURITY_ATTRIBUTES sa{sizeof sa, &sd, TRUE};
    d_->mapping = ::CreateFileMappingA(INVALID_HANDLE_VALUE, &sa, PAGE_READWRITE, 0, 4, kInstanceGuid);
    if (!d_->mapping) return false;
    const bool existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
    d_->view = static_cast<volatile LONG*>(::MapViewOfFile(d_->mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (!d_->view) {
        d_->release();
        return false;
    }
    if (existed) return false; // the view and handle are the system's to release at exit
    *d_->view = 0;
    d_->first = true;
    return true;
}

void InstanceGuard::listenFor(std::function<QWidget*()>, std::function<void(const QString&)> open) {
    // A later instance brings the window forward itself, through the published handle; only a
    // file it hands over needs this side.
    if (!open || !d_->first) return;
    d_->handOver = std::make_unique<HandOverFilter>(std::move(open));
    QCoreApplication::instance()->installNativeEventFilter(d_->handOver.get());
}

void InstanceGuard::publish(QWidget* window) {
    if (!d_->view || !window) return;
    const HWND handle = reinterpret_cast<HWND>(window->winId());
    if (d_->handOver) d_->handOver->window = handle;
    *d_->view = static_cast<LONG>(reinterpret_cast<LONG_PTR>(handle));
}

void InstanceGuard::askFirstToComeForward(const QString& file) {
    // Window handles fit 32 bits, so a 32-bit value holds one; 0 means the first instance has
    // not published its window yet, and then nothing comes forward.
    const HWND window = d_->view ? reinterpret_cast<HWND>(static_cast<LONG_PTR>(*d_->view)) : nullptr;
    if (!window) return;
    if (!file.isEmpty()) {
        // Wide text, so a name in any alphabet arrives whole; the terminator goes along.
        const std::wstring path = QDir::toNativeSeparators(QFileInfo(file).absoluteFilePath()).toStdWString();
        COPYDATASTRUCT data{kHandOverTag, static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)),
                            const_cast<wchar_t*>(path.c_str())};
        DWORD_PTR answer = 0;
        // Bounded, so a first instance that hangs does not hold this one.
        ::SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data),
                              SMTO_ABORTIFHUNG | SMTO_BLOCK, 5000, &answer);
    }
    ActivatePreviousInstance(window);
}

} // namespace tk7v
