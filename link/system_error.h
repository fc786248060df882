#pragma once
// Errors of system calls as the user and the callers see them: the code, what kind of failure it
// is, and the system's text for it. Each platform maps its codes in one place
// (system_error_posix.cpp, system_error_win32.cpp); callers decide on the kind, never on a code.
#include <cstdint>
#include <string>
#include <system_error>

namespace tk7v {

enum class ErrorKind {
    None,
    DeviceGone,      // the adapter was unplugged or the port vanished: only closing helps
    Busy,            // another program holds the port
    AccessDenied,    // the user may not open the port
    NotFound,        // no such port
    InvalidSettings, // the port refused the line settings
    NotAPort,        // the path names a device that is no serial port (no line settings at all)
    Other,
};

struct SysError {
    std::uint32_t code = 0; // 0: no error
    ErrorKind kind = ErrorKind::None;
    explicit operator bool() const { return code != 0; }
};

// The error for a system code of this platform (0: no error).
SysError MakeSysError(std::uint32_t code);

// The system's text for an error code, as the error boxes show it, in UTF-8. Common serial-port
// failures get a short Russian text (with what to do about them); others the system's own text.
std::string SystemErrorText(std::uint32_t code);

// Whether SystemErrorText has words of ours for the code, which say what failed and what to do;
// otherwise it is the system's own text ("Broken pipe"), which a caller marks as an error.
bool HasOwnErrorText(std::uint32_t code);

// Why a file (a report, a ledger, a configuration) could not be used, in the words of the
// reasons an installer meets with files (a missing folder, no right to write, a full disk); the
// port's advice never goes with a file. Lower case, no final stop: it follows our own words.
std::string FileErrorText(std::uint32_t code);
// A file operation's system code as the standard library's error (its generic condition where
// one is known).
std::error_code FileErrorCode(std::uint32_t code);

} // namespace tk7v
