#include "link/console.h"

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace tk7v {

namespace {

HANDLE handle(StdStream stream) {
    return ::GetStdHandle(stream == StdStream::Input    ? STD_INPUT_HANDLE
                          : stream == StdStream::Output ? STD_OUTPUT_HANDLE
                                                        : STD_ERROR_HANDLE);
}

std::atomic<void (*)()> gOnEnd{nullptr};
HANDLE gEndDone = nullptr;

// The system gives a closed console five seconds; a little is kept for the process's own end.
constexpr DWORD kEndAllowanceMs = 4500;

BOOL WINAPI onConsoleEnd(DWORD type) {
    if (type != CTRL_CLOSE_EVENT && type != CTRL_LOGOFF_EVENT && type != CTRL_SHUTDOWN_EVENT)
        return FALSE; // Ctrl+C and Ctrl+Break go on to the C runtime, which raises their signals
    void (*onEnd)() = gOnEnd.load();
    if (!onEnd) return FALSE;
    onEnd();
    ::WaitForSingleObject(gEndDone, kEndAllowanceMs);
    return TRUE;
}

} // namespace

void HoldConsoleEnd(void (*onEnd)()) {
    // Registered once, after the C runtime's own handler (set up with the first signal()), so
    // that the system asks this one first.
    static const bool registered = [] {
        gEndDone = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        return ::SetConsoleCtrlHandler(onConsoleEnd, TRUE) != 0;
    }();
    (void)registered;
    if (gEndDone) ::ResetEvent(gEndDone);
    gOnEnd = onEnd;
}

void ConsoleEndDone() {
    gOnEnd = nullptr;
    if (gEndDone) ::SetEvent(gEndDone);
}

bool EndConsoleAsTheSystemWould(unsigned long type) {
    return onConsoleEnd(type) != FALSE;
}

bool PrepareTerminal(StdStream stream) {
    // Russian text is written as UTF-8; the console shows it once told so.
    ::SetConsoleOutputCP(CP_UTF8);
    DWORD mode = 0;
    if (!::GetConsoleMode(handle(stream), &mode)) return false;
    if (stream == StdStream::Input) return true;
    return ::SetConsoleMode(handle(stream), mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int TerminalColumns(StdStream stream) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(handle(stream), &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

void UseBinary(StdStream stream) {
    std::FILE* file = stream == StdStream::Input ? stdin : stream == StdStream::Output ? stdout : stderr;
    ::_setmode(::_fileno(file), _O_BINARY);
}

} // namespace tk7v
