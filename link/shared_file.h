#pragma once
// A file that several programs append records to, one at a time: a station's report, which two
// stations (two processes, on one machine or over a network folder) may share. The lock is the
// system's whole-file lock (flock on POSIX, LockFileEx on Windows); the system drops it when the
// file closes, so a process that dies holding it frees it.
//
// The lock belongs to the open file, not to a thread: the threads of one process share one
// SharedFile and take turns at it under a mutex of their own.
#include "link/system_error.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace tk7v {

class SharedFile {
public:
    // Opens the file for reading and appending, creating it when missing; or, `readOnly`, for
    // reading only, and only when it is there (a name typed wrong makes nothing). Null with
    // `error` set when it cannot be opened, or is no plain file.
    static std::unique_ptr<SharedFile> open(const std::filesystem::path& path, SysError& error,
                                            bool readOnly = false);
    virtual ~SharedFile() = default;

    // Blocks until this process holds the lock, or fails (a folder that offers no locks).
    virtual SysError lock() = 0;
    // Takes the lock when no one holds it; `held` is set when another holder has it (then the
    // error is empty and the lock not taken).
    virtual SysError tryLock(bool& held) = 0;
    virtual void unlock() = 0;

    // The rest below are for the holder of the lock.
    virtual SysError size(std::uint64_t& bytes) = 0;
    // The file from `from` to its end, or its first `most` bytes from there.
    virtual SysError read(std::uint64_t from, std::string& bytes, std::size_t most = SIZE_MAX) = 0;
    // Appends the bytes whole, or, when that fails part way (a full disk, a file size limit),
    // cuts the file back to its old end so that nothing of them stays.
    virtual SysError append(std::string_view bytes) = 0;
};

} // namespace tk7v
