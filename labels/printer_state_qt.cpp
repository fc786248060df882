#include "printer_state.h"

#include <QPrinterInfo>

namespace tk7v::labels {

// Where there is no print service of our own to ask: Qt's word that the printer is stopped.
bool PrinterStopped(const std::string& printer, std::string&) {
    const QPrinter::PrinterState state = QPrinterInfo::printerInfo(QString::fromStdString(printer)).state();
    return state == QPrinter::Error || state == QPrinter::Aborted;
}

} // namespace tk7v::labels
