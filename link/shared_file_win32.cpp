#include "link/shared_file.h"

#include <windows.h>

#include <algorithm>

namespace tk7v {

namespace {

SysError lastError() {
    return MakeSysError(::GetLastError());
}

class Win32SharedFile final : public SharedFile {
public:
    explicit Win32SharedFile(HANDLE h) : h_(h) {}
    ~Win32SharedFile() override { ::CloseHandle(h_); }

    SysError lock() override {
        OVERLAPPED whole{};
        if (!::LockFileEx(h_, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) return lastError();
        return {};
    }
    SysError tryLock(bool& held) override {
        held = false;
        OVERLAPPED whole{};
        if (::LockFileEx(h_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD,
                         &whole))
            return {};
        if (::GetLastError() == ERROR_LOCK_VIOLATION) {
            held = true;
            return {};
        }
        return lastError();
    }
    void unlock() override {
        OVERLAPPED whole{};
        ::UnlockFileEx(h_, 0, MAXDWORD, MAXDWORD, &whole);
    }

    SysError size(std::uint64_t& bytes) override {
        LARGE_INTEGER n{};
        if (!::GetFileSizeEx(h_, &n)) return lastError();
        bytes = static_cast<std::uint64_t>(n.QuadPart);
        return {};
    }

    SysError read(std::uint64_t from, std::string& bytes, std::size_t most) override {
        bytes.clear();
        if (!seek(from)) return lastError();
        char buffer[65536];
        while (bytes.size() < most) {
            DWORD n = 0;
            const auto want = static_cast<DWORD>(std::min<std::size_t>(sizeof buffer, most - bytes.size()));
            if (!::ReadFile(h_, buffer, want, &n, nullptr)) return lastError();
            if (n == 0) return {};
            bytes.append(buffer, n);
        }
        return {};
    }

    SysError append(std::string_view bytes) override {
        std::uint64_t end = 0;
        if (const SysError e = size(end)) return e;
        if (!seek(end)) return lastError();
        for (std::size_t done = 0; done < bytes.size();) {
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
            DWORD n = 0;
            if (!::WriteFile(h_, bytes.data() + done, chunk, &n, nullptr) || n == 0) {
                const SysError failed =
                    n == 0 && ::GetLastError() == 0 ? MakeSysError(ERROR_DISK_FULL) : lastError();
                if (seek(end)) ::SetEndOfFile(h_);
                return failed;
            }
            done += n;
        }
        return {};
    }

private:
    bool seek(std::uint64_t at) {
        LARGE_INTEGER to{};
        to.QuadPart = static_cast<LONGLONG>(at);
        return ::SetFilePointerEx(h_, to, nullptr, FILE_BEGIN) != 0;
    }

    HANDLE h_;
};

} // namespace

std::unique_ptr<SharedFile> SharedFile::open(const std::filesystem::path& path, SysError& error, bool readOnly) {
    // Shared for reading and writing: the other station opens it too, and the lock, not the
    // sharing mode, keeps the two apart.
    const HANDLE h = ::CreateFileW(path.c_str(), readOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   readOnly ? OPEN_EXISTING : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = lastError();
        return nullptr;
    }
    // Decided on what was opened: a device ("NUL", "COM1") or a pipe is no file to keep records in.
    if (::GetFileType(h) != FILE_TYPE_DISK) {
        ::CloseHandle(h);
        error = MakeSysError(ERROR_BAD_FILE_TYPE);
        return nullptr;
    }
    return std::make_unique<Win32SharedFile>(h);
}

} // namespace tk7v
