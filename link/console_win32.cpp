#include "link/console.h"

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

} // namespace

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
