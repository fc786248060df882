#pragma once
// The signals that end a program from outside (Ctrl+C in the terminal that started it, SIGTERM
// from a logout, a shutdown or kill, SIGHUP from a closed terminal, Ctrl+Break on Windows). The
// handler only records the signal and wakes the window's event loop; the work of ending (the
// exchange stopped between chunks, the device reset, the port closed) runs there, as a click
// would.
//
// One instance at a time, made and destroyed on the window thread.
#include "link/wake_signal.h"

#include <QObject>

#include <functional>
#include <memory>

namespace tk7v {

class EndingSignals {
public:
    // onSignal runs on the window thread with the signal's number, once per signal received.
    explicit EndingSignals(std::function<void(int signal)> onSignal);
    ~EndingSignals(); // the handlers found before come back
    EndingSignals(const EndingSignals&) = delete;
    EndingSignals& operator=(const EndingSignals&) = delete;

    // "SIGTERM", "SIGINT" … for a message.
    static const char* Name(int signal);

private:
    WakeSignal wake_;
    std::function<void(int)> onSignal_;
    std::unique_ptr<QObject> notifier_;
};

} // namespace tk7v
