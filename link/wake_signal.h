#pragma once
// A wake-up that a worker thread gives another thread's event loop without calling into it: the
// worker only signals an OS object, and the loop watches that object's handle.
#include <cstdint>

namespace tk7v {

class WakeSignal {
public:
    WakeSignal();
    ~WakeSignal();
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

    // Any thread, a signal handler too.
    void signal();
    // The watching thread, once woken: the handle stops being ready until the next signal.
    void clear();
    // A descriptor that becomes readable (POSIX) or an event that becomes signalled (Windows).
    std::intptr_t nativeHandle() const { return handle_; }

private:
    std::intptr_t handle_ = -1;
};

} // namespace tk7v
