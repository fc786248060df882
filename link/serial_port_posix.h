#pragma once
// The POSIX side of the serial port, for the port itself and its tests: termios from the
// settings, the low-latency request, and the bounded drain of a close.
#include "link/port_config.h"

#include <chrono>
#include <termios.h>

namespace tk7v {

// Asks the driver of an open port for low latency through ioctlFn (::ioctl in the port). True
// when the driver knew the request; a refusal is harmless.
bool RequestLowLatency(int fd, int (*ioctlFn)(int, unsigned long, void*));

// The calls that closing a port makes; the system's in the port, recording ones in tests.
struct CloseCalls {
    int (*dup)(int fd);
    int (*drain)(int fd);
    int (*flush)(int fd); // discards the output, which ends a drain in progress
    int (*restore)(int fd, const termios& saved);
    int (*close)(int fd);
};
const CloseCalls& SystemCloseCalls();
// Waits until the bytes written to fd have left it, for at most about `bound`: past it the
// output is discarded. True when everything left.
bool DrainOutput(int fd, std::chrono::milliseconds bound, const CloseCalls& calls);
// Drains (bounded; not at all with a bound of zero), restores the saved settings, closes. 0, or
// the close's errno.
int CloseAfterDrain(int fd, const termios& saved, std::chrono::milliseconds bound, const CloseCalls& calls);

// Termios settings for a configuration. False when the configuration cannot be expressed.
bool TermiosFor(const PortConfig& config, termios& t);

} // namespace tk7v
