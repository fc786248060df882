#include "link/shared_file.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tk7v {

namespace {

SysError lastError() {
    return MakeSysError(static_cast<std::uint32_t>(errno));
}

class PosixSharedFile final : public SharedFile {
public:
    explicit PosixSharedFile(int fd) : fd_(fd) {}
    ~PosixSharedFile() override { ::close(fd_); }

    SysError lock() override {
        // flock rather than fcntl's record locks: those belong to the process and would be
        // dropped by any other descriptor of the same file closing in it.
        while (::flock(fd_, LOCK_EX) != 0)
            if (errno != EINTR) return lastError();
        return {};
    }
    SysError tryLock(bool& held) override {
        held = false;
        while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK) {
                held = true;
                return {};
            }
            if (errno != EINTR) return lastError();
        }
        return {};
    }
    void unlock() override { ::flock(fd_, LOCK_UN); }

    SysError size(std::uint64_t& bytes) override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) return lastError();
        bytes = static_cast<std::uint64_t>(st.st_size);
        return {};
    }

    SysError read(std::uint64_t from, std::string& bytes, std::size_t most) override {
        bytes.clear();
        char buffer[65536];
        for (auto at = static_cast<off_t>(from); bytes.size() < most;) {
            const ssize_t n = ::pread(fd_, buffer, std::min(sizeof buffer, most - bytes.size()), at);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return lastError();
            if (n == 0) return {};
            bytes.append(buffer, static_cast<std::size_t>(n));
            at += n;
        }
        return {};
    }

    SysError append(std::string_view bytes) override {
        std::uint64_t end = 0;
        if (const SysError e = size(end)) return e;
        // At the end found under the lock: every writer of this file holds it, so the end stays.
        auto at = static_cast<off_t>(end);
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::pwrite(fd_, bytes.data() + done, bytes.size() - done, at);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                const SysError failed = n < 0 ? lastError() : MakeSysError(ENOSPC);
                while (::ftruncate(fd_, static_cast<off_t>(end)) != 0 && errno == EINTR) {
                }
                return failed;
            }
            done += static_cast<std::size_t>(n);
            at += n;
        }
        return {};
    }

private:
    int fd_;
};

// Whether the folder that holds the link `path` lets others write in it (/tmp, a shared folder
// open to all): there anyone may have put the link, to lead records into a file of their choice.
bool othersMayPlaceLinks(const std::filesystem::path& path) {
    struct stat folder {};
    const std::filesystem::path parent = path.has_parent_path() ? path.parent_path() : ".";
    return ::stat(parent.c_str(), &folder) != 0 || (folder.st_mode & S_IWOTH) != 0;
}

int openAs(const std::filesystem::path& path, int flags) {
    // Not blocking: a pipe or a device with no one at its end would hold the open for ever.
    int fd;
    while ((fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0666)) < 0 && errno == EINTR) {
    }
    return fd;
}

} // namespace

// What is opened is decided on the file opened, never on a look before it (which another
// program could change in between): a plain file, made here when missing but never through a
// link, and reached through a link only where others cannot have put it.
std::unique_ptr<SharedFile> SharedFile::open(const std::filesystem::path& path, SysError& error, bool readOnly) {
    const int access = readOnly ? O_RDONLY : O_RDWR;
    int fd = openAs(path, access | O_NOFOLLOW);
    if (fd < 0 && errno == ENOENT && !readOnly) {
        fd = openAs(path, access | O_NOFOLLOW | O_CREAT | O_EXCL);
        // Made meanwhile by another station; a link that leads nowhere is refused below.
        if (fd < 0 && errno == EEXIST) fd = openAs(path, access | O_NOFOLLOW);
    }
    if (fd < 0 && errno == ELOOP && !othersMayPlaceLinks(path)) fd = openAs(path, access);
    if (fd < 0) {
        error = lastError();
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int code = S_ISDIR(st.st_mode) ? EISDIR : ENODEV;
        ::close(fd);
        error = MakeSysError(static_cast<std::uint32_t>(code));
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return std::make_unique<PosixSharedFile>(fd);
}

} // namespace tk7v
