#pragma once
// Errors of system calls as the user sees them: the code and the system's text for it.
#include <cstdint>
#include <string>

namespace tk7v {

struct SysError {
    std::uint32_t code = 0; // 0: no error
    explicit operator bool() const { return code != 0; }
};

// The system's text for an error code, as the error boxes show it. Common serial-port failures
// get a short Russian text (with what to do about them); others the system's own text.
std::string SystemErrorText(std::uint32_t code);

} // namespace tk7v
