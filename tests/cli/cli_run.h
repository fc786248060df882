#pragma once
// Runs tk7v-cli for the command-line tests and gives each test a folder of its own.
#include "../common/fresh_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace tk7v::test {

// The program under test: the build's, or the copy TK7V_CLI names (a run as another user).
inline const char* CliProgram() {
    const char* copy = std::getenv("TK7V_CLI");
    return copy ? copy : TK7V_CLI;
}

struct Ran {
    int status = -1;
    std::string out, err;
};

// Starts tk7v-cli with its output going into pipes that threads drain as it runs (what it
// printed so far can be looked at before it ends); finish() waits and collects. `input` is
// its standard input; `stdoutPath` sends its standard output to a file instead.
struct CliIo {
    std::string input;
    const char* stdoutPath = nullptr;
};

class Cli {
public:
    using Io = CliIo;
    explicit Cli(std::vector<std::string> args, Io io = {}) {
        args.insert(args.begin(), CliProgram());
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int in[2], out[2], err[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0 || ::pipe(err) != 0) return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, in[0], 0);
        if (io.stdoutPath)
            posix_spawn_file_actions_addopen(&fa, 1, io.stdoutPath, O_WRONLY, 0);
        else
            posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        posix_spawn_file_actions_adddup2(&fa, err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
            posix_spawn_file_actions_addclose(&fa, fd);
        if (posix_spawn(&pid_, CliProgram(), &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
        ::close(in[0]);
        ::close(out[1]);
        ::close(err[1]);
        readers_.emplace_back([this, fd = out[0]] { drain(fd, out_); });
        readers_.emplace_back([this, fd = err[0]] { drain(fd, err_); });
        if (!io.input.empty()) [[maybe_unused]]
            auto n = ::write(in[1], io.input.data(), io.input.size());
        ::close(in[1]);
    }
    ~Cli() { finish(); }
    pid_t pid() const { return pid_; }
    std::string outSoFar() {
        std::lock_guard lock(mutex_);
        return out_;
    }
    std::string errSoFar() {
        std::lock_guard lock(mutex_);
        return err_;
    }
    bool running() {
        int status = 0;
        return pid_ > 0 && !done_ && ::waitpid(pid_, &status, WNOHANG) == 0;
    }
    // Waits for the end at most `within`; a program still running then is killed (status -1).
    Ran finish(std::chrono::milliseconds within) {
        const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
        pollfd ended{pidfd, POLLIN, 0};
        if (pid_ > 0 && !done_ && (pidfd < 0 || ::poll(&ended, 1, static_cast<int>(within.count())) != 1))
            ::kill(pid_, SIGKILL);
        if (pidfd >= 0) ::close(pidfd);
        return finish();
    }
    Ran finish() {
        if (!done_) {
            int status = 0;
            if (pid_ > 0 && ::waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status))
                status_ = WEXITSTATUS(status);
            for (auto& t : readers_)
                t.join();
            done_ = true;
        }
        return {status_, out_, err_};
    }

private:
    void drain(int fd, std::string& into) {
        char buffer[4096];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
            std::lock_guard lock(mutex_);
            into.append(buffer, static_cast<std::size_t>(n));
        }
        ::close(fd);
    }
    pid_t pid_ = -1;
    int status_ = -1;
    bool done_ = false;
    std::mutex mutex_;
    std::string out_, err_;
    std::vector<std::thread> readers_;
};

inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::seconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A folder of the test's own for the runs' output and the files they make.
class CliFixture : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = test::FreshFolder("tk7v-cli-test");
        // The program keeps its ledger in the user's documents and its waiting records in the
        // user's data: the test's own, never the real user's.
        const std::filesystem::path home = dir_ / "home";
        std::filesystem::create_directories(home);
        ::setenv("HOME", home.c_str(), 1);
        ::unsetenv("XDG_CONFIG_HOME");
        ::unsetenv("XDG_DATA_HOME");
    }
    std::filesystem::path documents() const { return dir_ / "home" / "Documents"; }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    static Ran run(std::vector<std::string> args, Cli::Io io = {}) {
        return Cli(std::move(args), io).finish();
    }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    static std::vector<std::uint8_t> bytes(const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static void put(const std::string& p, const std::vector<std::uint8_t>& b) {
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    }
    std::filesystem::path dir_;
};

} // namespace tk7v::test
