#pragma once
// Whether the system's print service holds a printer's jobs (stopped, paused, out of paper) and
// why, in its own words ("Paused", "media-empty"): a label sent there would wait unseen in its
// queue. Qt's print support tells a stopped printer at best, never why.
#include <string>

namespace tk7v::labels {

// True when the printer takes no job now; `why` is the system's reason, when it gives one.
bool PrinterStopped(const std::string& printer, std::string& why);

} // namespace tk7v::labels
