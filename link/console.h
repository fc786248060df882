#pragma once
// The terminal a command-line front end writes to.
namespace tk7v {

// True when standard output is a terminal (progress lines may then be redrawn in place).
bool StdoutIsTerminal();

} // namespace tk7v
