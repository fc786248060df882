// The single-instance guard on Windows: a 4-byte block of named shared memory on the paging file,
// open to every account, holding the first instance's window handle. A later instance that
// finds the block brings that window (or its last active popup) forward and ends.
#include "app/instance_guard.h"

#include <QWidget>

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

} // namespace

struct InstanceGuard::Impl {
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

void InstanceGuard::listenFor(std::function<QWidget*()>) {
    // A later instance brings the window forward itself, through the published handle.
}

void InstanceGuard::publish(QWidget* window) {
    if (d_->view && window) *d_->view = static_cast<LONG>(static_cast<LONG_PTR>(window->winId()));
}

void InstanceGuard::askFirstToComeForward() {
    // Window handles fit 32 bits, so a 32-bit value holds one; 0 means the first instance has
    // not published its window yet, and then nothing comes forward.
    const HWND window = d_->view ? reinterpret_cast<HWND>(static_cast<LONG_PTR>(*d_->view)) : nullptr;
    if (window) ActivatePreviousInstance(window);
}

} // namespace tk7v
