#pragma once
// Runs tk7v-cli for the command-line tests: each run's output goes to files in the test's own
// folder, and a run that outlives its bound is killed and reported as such.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace tk7v::test {

struct Ran {
    int status = -1; // the exit status; -1 when the program did not end by itself in time
    std::string out, err;
};

// The program under test: the build's, or the copy TK7V_CLI names (a run as another user).
inline const char* CliProgram() {
    const char* copy = std::getenv("TK7V_CLI");
    return copy ? copy : TK7V_CLI;
}

// Starts tk7v-cli with its output going to files in `dir`; finish() waits and collects.
class Cli {
public:
    Cli(const std::filesystem::path& dir, std::vector<std::string> args) : dir_(dir) {
        args.insert(args.begin(), CliProgram());
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, (dir / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&fa, 2, (dir / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (posix_spawn(&pid_, CliProgram(), &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
    }
    pid_t pid() const { return pid_; }
    // Waits for the end, at most `within`: a program still running then is killed.
    Ran finish(std::chrono::milliseconds within = std::chrono::minutes(1)) {
        Ran r;
        const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
        pollfd p{pidfd, POLLIN, 0};
        const bool ended = pidfd >= 0 && ::poll(&p, 1, static_cast<int>(within.count())) == 1;
        if (pidfd >= 0) ::close(pidfd);
        if (!ended && pid_ > 0) ::kill(pid_, SIGKILL);
        int status = 0;
        if (pid_ > 0 && ::waitpid(pid_, &status, 0) == pid_ && ended && WIFEXITED(status))
            r.status = WEXITSTATUS(status);
        r.out = slurp(dir_ / "out");
        r.err = slurp(dir_ / "err");
        return r;
    }
    static std::string slurp(const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

private:
    std::filesystem::path dir_;
    pid_t pid_ = -1;
};

// A folder of the test's own for the runs' output and the files they make.
class CliFixture : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("tk7v-cli-test-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    Ran run(std::vector<std::string> args) { return Cli(dir_, std::move(args)).finish(); }
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
