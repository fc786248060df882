#pragma once
// What a client of a server over the network needs of the system: a wait on its connection's
// socket that a caller can bound and slice (to look at its stop between slices), and the name of
// this computer, which records of a shared ledger carry to tell the stations apart.
#include <chrono>
#include <string>

namespace tk7v {

enum class SocketReady { Ready, TimedOut, Failed };

// Any thread. Waits until `socket` (the descriptor or SOCKET a client library gives, as an int)
// can be read, or written with `forWrite`, or `limit` has passed. Failed for a socket that is not
// one.
SocketReady WaitForSocket(int socket, bool forWrite, std::chrono::milliseconds limit);

// This computer's network name ("bench-2"); empty when the system gives none.
std::string ComputerName();

} // namespace tk7v
