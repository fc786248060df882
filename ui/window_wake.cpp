#include "ui/window_wake.h"

#ifdef Q_OS_WIN
#include <QWinEventNotifier>
#else
#include <QSocketNotifier>
#endif

namespace tk7v {

WindowWake::WindowWake(QObject* parent, std::function<void()> onWake)
    : QObject(parent), onWake_(std::move(onWake)) {
    const auto woken = [this] {
        signal_.clear();
        onWake_();
    };
#ifdef Q_OS_WIN
    auto* notifier = new QWinEventNotifier(reinterpret_cast<Qt::HANDLE>(signal_.nativeHandle()), this);
    connect(notifier, &QWinEventNotifier::activated, this, woken);
#else
    auto* notifier =
        new QSocketNotifier(static_cast<qintptr>(signal_.nativeHandle()), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, woken);
#endif
}

} // namespace tk7v
