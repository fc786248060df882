#include "link/console.h"

#include <windows.h>

namespace tk7v {

bool PrepareTerminal() {
    // Russian text is written as UTF-8; the console shows it once told so.
    ::SetConsoleOutputCP(CP_UTF8);
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (!::GetConsoleMode(out, &mode)) return false;
    return ::SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

} // namespace tk7v
