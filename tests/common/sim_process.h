#pragma once
// Runs tk7v-sim for a test: starts it, learns its port, and stops it (or kills it) on request.
// Each instance owns a temporary folder for the simulator's memory file and log.
#include "fresh_folder.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace tk7v::test {

class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> args = {}) {
        dir_ = FreshFolder("tk7v-sim");
        // The build's simulator, or the copy TK7V_SIM names (a run as another user).
        const char* copy = std::getenv("TK7V_SIM");
        const std::string program = copy ? copy : TK7V_SIM;
        args.insert(args.begin(), {program, "--save", memoryPath(), "--log", logPath()});
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int out[2];
        if (::pipe(out) != 0) throw std::runtime_error("pipe");
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        posix_spawn_file_actions_addclose(&fa, out[0]);
        if (posix_spawn(&pid_, program.c_str(), &fa, nullptr, argv.data(), environ) != 0)
            throw std::runtime_error("spawn");
        posix_spawn_file_actions_destroy(&fa);
        ::close(out[1]);
        // The first line is the port; reading it also waits until the simulator is ready.
        char c;
        while (::read(out[0], &c, 1) == 1 && c != '\n')
            port_ += c;
        ::close(out[0]);
        if (port_.empty()) throw std::runtime_error("tk7v-sim did not start");
    }
    ~SimProcess() {
        stop();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    const std::string& port() const { return port_; }
    pid_t pid() const { return pid_; }
    std::string memoryPath() const { return (dir_ / "memory.bin").string(); }
    std::string logPath() const { return (dir_ / "log.txt").string(); }
    std::filesystem::path dir() const { return dir_; }

    std::vector<std::uint8_t> memory() const {
        std::ifstream in(memoryPath(), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::string log() const {
        std::ifstream in(logPath());
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    void stop() { end(SIGTERM); }
    void kill() { end(SIGKILL); }

private:
    // A simulator that does not end when asked within a few seconds is killed: a test must
    // never hang on its helper.
    void end(int sig) {
        if (pid_ <= 0) return;
        ::kill(pid_, sig);
        const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
        if (pidfd >= 0) {
            pollfd p{pidfd, POLLIN, 0};
            if (::poll(&p, 1, 5000) == 0) ::kill(pid_, SIGKILL);
            ::close(pidfd);
        }
        int status;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }
    std::filesystem::path dir_;
    pid_t pid_ = -1;
    std::string port_;
};

// Where a write was stopped, each 26-byte chunk of the device's memory must hold the old bytes
// or the new ones: a chunk cut short takes what follows (a "RESET\r") as its data and holds
// neither. Empty when every chunk is whole, else the first chunk that is not.
inline std::string CutChunk(const std::vector<std::uint8_t>& memory, const std::vector<std::uint8_t>& old,
                            const std::vector<std::uint8_t>& fresh) {
    if (memory.size() != 512 || old.size() != 512 || fresh.size() != 512) return "not 512 bytes";
    for (std::size_t at = 0; at < 512; at += 26) {
        const std::size_t n = std::min<std::size_t>(26, 512 - at);
        const auto same = [&](const std::vector<std::uint8_t>& b) {
            return std::equal(memory.begin() + at, memory.begin() + at + n, b.begin() + at);
        };
        if (!same(old) && !same(fresh)) return "chunk at " + std::to_string(at);
    }
    return {};
}

} // namespace tk7v::test
