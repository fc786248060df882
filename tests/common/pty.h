#pragma once
// A pseudo-terminal pair: the test plays the device on the master side; `path` is the port.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <string>
#include <unistd.h>

namespace tk7v::test {

struct Pty {
    Pty() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        ::grantpt(master);
        ::unlockpt(master);
        path = ::ptsname(master);
    }
    ~Pty() { closeMaster(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
    void closeMaster() {
        if (master >= 0) ::close(master);
        master = -1;
    }
    void send(const std::string& s) const {
        ASSERT_EQ(::write(master, s.data(), s.size()), static_cast<ssize_t>(s.size()));
    }
    int master = -1;
    std::string path;
};

} // namespace tk7v::test
