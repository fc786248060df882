#include "printer_state.h"

#include <cups/cups.h>

#include <string_view>

namespace tk7v::labels {

bool PrinterStopped(const std::string& printer, std::string& why) {
    cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, printer.c_str(), nullptr);
    if (!dest) return false; // Qt's look finds it missing
    const auto option = [dest](const char* name) {
        const char* value = cupsGetOption(name, dest->num_options, dest->options);
        return std::string(value ? value : "");
    };
    // 3 idle, 4 printing, 5 stopped
    const bool stopped = option("printer-state") == "5";
    if (stopped) {
        why = option("printer-state-message");
        if (const std::string reasons = option("printer-state-reasons"); why.empty() && reasons != "none")
            why = reasons;
    }
    cupsFreeDests(1, dest);
    return stopped;
}

} // namespace tk7v::labels
