#pragma once
// The standard streams of a command-line front end and the terminals behind them.
namespace tk7v {

enum class StdStream { Input, Output, Error };

// Sets the stream's terminal up for UTF-8 text and for lines redrawn in place, where it is one.
// True when the stream is such a terminal.
bool PrepareTerminal(StdStream stream = StdStream::Output);

// The width of the stream's terminal in characters, asked anew each time (the user may resize
// the window); 0 when the stream is no terminal or the terminal does not say.
int TerminalColumns(StdStream stream);

// Bytes pass through the stream as they are (text mode on Windows would turn "\n" into "\r\n"
// and end input at the first Ctrl+Z).
void UseBinary(StdStream stream);

// Windows ends a console program as soon as its handler of a closed console window, a log-off or
// a shut-down returns, and within seconds whatever it does. HoldConsoleEnd has `onEnd` called
// there (to ask the run to stop), and the end held until ConsoleEndDone() says the program has
// finished its clean end (devices reset, ports closed, summary and report written), or the
// system's allowance is nearly spent. Ctrl+C and Ctrl+Break still come as signals. Elsewhere
// these ends come as signals too (SIGHUP, SIGTERM), and both calls do nothing.
void HoldConsoleEnd(void (*onEnd)());
void ConsoleEndDone();
// What the system calls at a console's end (CTRL_CLOSE_EVENT and the like, by number), for a test
// to call as the system would: true once the end was held, false when it goes on to the next
// handler (Ctrl+C, nothing held). False elsewhere.
bool EndConsoleAsTheSystemWould(unsigned long type);

} // namespace tk7v
