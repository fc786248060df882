#pragma once
// PostgreSQL for tests, every server scripts/test-postgres's (on 127.0.0.1, trusting its user
// tk7v): a database of a test's own on the build folder's fixture server, a private server a test
// may take away and bring back, and a look at what a database holds. A server that is not there
// fails the test with the reason; nothing here skips.
#include <filesystem>
#include <optional>
#include <string>

namespace tk7v::test {

// The first column of the first row `sql` gives on the database at `uri` (nothing for no row or a
// NULL); throws std::runtime_error with the server's words when it cannot connect or fails.
std::optional<std::string> QueryValue(const std::string& uri, const std::string& sql);

// A database no other test uses, on the server whose address is in $TK7V_TEST_POSTGRES/uri
// (TK7V_NEEDS_POSTGRES in tests/CMakeLists.txt), dropped when this goes. Its name holds the
// process's number: test processes run side by side on one server.
class TestDatabase {
public:
    TestDatabase();
    ~TestDatabase();
    TestDatabase(const TestDatabase&) = delete;
    TestDatabase& operator=(const TestDatabase&) = delete;
    const std::string& uri() const { return uri_; } // postgresql://tk7v@127.0.0.1:PORT/<name>

private:
    std::string serverUri_, name_, uri_;
};

// A server of the test's own in a temporary folder, for a test that takes it away, or that wants
// encrypted connections.
class TestServer {
public:
    enum class Tls { Off, On };
    // Started, or throws. With Tls::On it also takes encrypted connections, its certificate made
    // for the name localhost and signed by caFile().
    explicit TestServer(Tls tls = Tls::Off);
    ~TestServer(); // stopped, its folder removed
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;
    // Its postgres database, the same after startAgain().
    const std::string& uri() const { return uri_; }
    std::filesystem::path caFile() const { return folder_ / "server" / "tls" / "ca.crt"; }
    void kill();       // stopped at once, as if it had gone: open connections break
    void startAgain(); // back on the same port with the same data
    // Stopped where it stands (SIGSTOP to the server and each of its processes): connections stay
    // open and nothing answers, as a server that hangs. thaw() lets it go on.
    void freeze();
    void thaw();

private:
    void signalAll(int signal);
    std::filesystem::path folder_;
    std::string uri_;
};

} // namespace tk7v::test
