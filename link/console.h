#pragma once
// The terminal a command-line front end writes to.
namespace tk7v {

// Sets the terminal up for UTF-8 text and for lines redrawn in place, where it is one. True when
// standard output is such a terminal.
bool PrepareTerminal();

} // namespace tk7v
