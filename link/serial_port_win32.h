#pragma once
// The Windows side of the serial port, shared with the system's port settings dialog: the DCB
// for a configuration and back.
#include "link/port_config.h"

#include <windows.h>

namespace tk7v {

// Starts from `base` (the port's own record) and sets what the configuration says.
DCB DcbFor(const PortConfig& config, DCB base);
// What a DCB (as the settings dialog left it) says, in a configuration.
PortConfig ConfigFrom(const DCB& dcb, PortConfig base);

} // namespace tk7v
