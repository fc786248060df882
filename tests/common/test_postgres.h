#pragma once
// PostgreSQL for tests: a database of a test's own on the server the build folder's `postgres`
// fixture runs (tk7v_needs_postgres in tests/CMakeLists.txt), a private server a test may stop and
// start, and a way to look at what a database holds. Every server is scripts/test-postgres's: on
// 127.0.0.1, trusting its user tk7v. A server that is not there fails the test, with the reason;
// nothing here skips.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tk7v::test {

// Runs one statement on the database at `uri` and gives the first column of its first row;
// nothing when it gives no row (a statement such as CREATE TABLE) or a NULL. Throws
// std::runtime_error, with the server's words, when it cannot connect or the statement fails.
std::optional<std::string> QueryValue(const std::string& uri, const std::string& sql);

// Runs scripts/test-postgres with these arguments (its address line goes nowhere, its complaints
// to this process's stderr); its exit status.
int RunTestPostgres(const std::vector<std::string>& args);

// A database no other test uses, dropped (with any connection still open to it) when this goes.
// Test processes run side by side on one server, so its name holds the process's number and a
// count within the process.
class TestDatabase {
public:
    // On the fixture's server: the one whose address is in $TK7V_TEST_POSTGRES/uri.
    TestDatabase();
    // On the server at `serverUri`, an address of one of its databases (a TestServer's uri()).
    explicit TestDatabase(std::string serverUri);
    ~TestDatabase();
    TestDatabase(const TestDatabase&) = delete;
    TestDatabase& operator=(const TestDatabase&) = delete;

    const std::string& name() const { return name_; }
    // postgresql://tk7v@127.0.0.1:PORT/<name>
    const std::string& uri() const { return uri_; }

private:
    std::string serverUri_;
    std::string name_;
    std::string uri_;
};

// A server of the test's own, in a temporary folder, for a test that takes it away and brings it
// back. Made on one thread; its calls wait until the script is done.
class TestServer {
public:
    TestServer();  // started, or throws
    ~TestServer(); // stopped, its folder removed

    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    // Its postgres database: postgresql://tk7v@127.0.0.1:PORT/postgres, the same after startAgain.
    const std::string& uri() const { return uri_; }
    void kill();       // stopped at once, as if it had gone: open connections break
    void startAgain(); // back on the same port with the same data

private:
    std::filesystem::path folder_;
    std::string uri_;
};

} // namespace tk7v::test
