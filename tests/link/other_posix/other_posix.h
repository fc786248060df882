#pragma once
// A POSIX system other than Linux, as far as a compile on this one can show it: included ahead of
// the file under check (with TK7V_POSIX_WITHOUT_LINUX defined and this folder first on the include
// path), it takes away what only Linux's headers give. Linux's serial driver header is replaced by
// one that fails; the termios flags and speeds that not every system has are undefined, and
// ppoll, which not every system has, cannot be named.
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>

#undef CMSPAR
#undef CRTSCTS
#undef B230400
#undef B460800
#undef B921600
#undef TIOCGSERIAL
#undef TIOCSSERIAL

#pragma GCC poison ppoll
