#include "app/ending_signals.h"

#include <atomic>
#include <csignal>
#include <vector>

#ifdef Q_OS_WIN
#include <QWinEventNotifier>
#else
#include <QSocketNotifier>
#endif

namespace tk7v {

namespace {

std::atomic<int> gSignal{0};
std::atomic<WakeSignal*> gWake{nullptr};

extern "C" void onEndingSignal(int sig) {
    gSignal = sig;
    if (WakeSignal* wake = gWake.load()) wake->signal();
}

std::vector<int> endingSignals() {
    std::vector<int> s{SIGINT, SIGTERM};
#ifdef SIGHUP
    s.push_back(SIGHUP);
#endif
#ifdef SIGBREAK
    s.push_back(SIGBREAK);
#endif
    return s;
}

using Handler = void (*)(int);
std::vector<Handler> gPrevious;

} // namespace

EndingSignals::EndingSignals(std::function<void(int)> onSignal) : onSignal_(std::move(onSignal)) {
    const auto fire = [this] {
        wake_.clear();
        if (const int sig = gSignal.exchange(0)) onSignal_(sig);
    };
#ifdef Q_OS_WIN
    auto* notifier = new QWinEventNotifier(reinterpret_cast<void*>(wake_.nativeHandle()));
    QObject::connect(notifier, &QWinEventNotifier::activated, notifier, fire);
#else
    auto* notifier = new QSocketNotifier(static_cast<qintptr>(wake_.nativeHandle()), QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, fire);
#endif
    notifier_.reset(notifier);
    gSignal = 0;
    gWake = &wake_;
    for (int sig : endingSignals())
        gPrevious.push_back(std::signal(sig, onEndingSignal));
}

EndingSignals::~EndingSignals() {
    std::size_t i = 0;
    for (int sig : endingSignals())
        std::signal(sig, gPrevious[i++]);
    gPrevious.clear();
    gWake = nullptr;
}

const char* EndingSignals::Name(int sig) {
    switch (sig) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
#ifdef SIGHUP
    case SIGHUP:
        return "SIGHUP";
#endif
#ifdef SIGBREAK
    case SIGBREAK:
        return "SIGBREAK";
#endif
    default:
        return "?";
    }
}

} // namespace tk7v
