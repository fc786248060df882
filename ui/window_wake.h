#pragma once
// The wake-up of the window thread for the worker's hand-offs. The worker only signals an OS
// object (it never calls into Qt, whose locks the race checker cannot see); the window's event
// loop watches that object and runs `onWake` on the window thread.
#include "link/wake_signal.h"

#include <QObject>

#include <functional>

namespace tk7v {

class WindowWake : public QObject {
public:
    WindowWake(QObject* parent, std::function<void()> onWake);
    // Any thread.
    void wake() { signal_.signal(); }

private:
    WakeSignal signal_;
    std::function<void()> onWake_;
};

} // namespace tk7v
