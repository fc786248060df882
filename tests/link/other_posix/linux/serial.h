// Stands in for Linux's own header in the check of the POSIX files built as for another system.
#error "<linux/serial.h> is Linux's: include it only where TK7V_LINUX is defined"
