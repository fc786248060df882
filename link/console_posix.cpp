#include "link/console.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace tk7v {

namespace {

int descriptor(StdStream stream) {
    return stream == StdStream::Input    ? STDIN_FILENO
           : stream == StdStream::Output ? STDOUT_FILENO
                                         : STDERR_FILENO;
}

} // namespace

bool PrepareTerminal(StdStream stream) {
    return ::isatty(descriptor(stream)) == 1;
}

int TerminalColumns(StdStream stream) {
    winsize size{};
    if (::ioctl(descriptor(stream), TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

void UseBinary(StdStream) {}

void HoldConsoleEnd(void (*)()) {}

void ConsoleEndDone() {}

bool EndConsoleAsTheSystemWould(unsigned long) {
    return false;
}

} // namespace tk7v
