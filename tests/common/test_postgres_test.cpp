// The PostgreSQL the server tests stand on: the fixture's server, a database per test, a server a
// test may take away and bring back.
#include "common/fresh_folder.h"
#include "common/test_postgres.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <optional>
#include <stdexcept>
#include <thread>

namespace tk7v::test {
namespace {

std::string CountOf(const std::string& serverUri, const std::string& name) {
    return QueryValue(serverUri, "SELECT count(*) FROM pg_database WHERE datname = '" + name + "'").value();
}

std::string FixtureUri() {
    std::ifstream in(std::filesystem::path(std::getenv("TK7V_TEST_POSTGRES")) / "uri");
    std::string uri;
    std::getline(in, uri);
    return uri;
}

TEST(TestDatabase, IsItsOwnAndGoneAfter) {
    std::string name;
    {
        TestDatabase db;
        name = db.name();
        EXPECT_EQ(QueryValue(db.uri(), "SELECT current_database()"), name);
        QueryValue(db.uri(), "CREATE TABLE t (n int); INSERT INTO t VALUES (7)");
        EXPECT_EQ(QueryValue(db.uri(), "SELECT n FROM t"), "7");
        EXPECT_EQ(CountOf(FixtureUri(), name), "1");
    }
    EXPECT_EQ(CountOf(FixtureUri(), name), "0");
}

TEST(TestDatabase, TwoAtOnceAreTwo) {
    TestDatabase a, b;
    EXPECT_NE(a.name(), b.name());
    QueryValue(a.uri(), "CREATE TABLE only_in_a (n int)");
    EXPECT_THROW(QueryValue(b.uri(), "SELECT count(*) FROM only_in_a"), std::runtime_error);
}

TEST(TestDatabase, DroppedWithAConnectionStillOpen) {
    std::string name;
    PGconn* open = nullptr;
    {
        TestDatabase db;
        name = db.name();
        // Left open, as a test whose ledger was not closed leaves it.
        open = PQconnectdb(db.uri().c_str());
        ASSERT_EQ(PQstatus(open), CONNECTION_OK);
    }
    EXPECT_EQ(CountOf(FixtureUri(), name), "0");
    PQfinish(open);
}

TEST(TestDatabase, NoServerFailsTheTest) {
    const std::string saved = std::getenv("TK7V_TEST_POSTGRES");
    ::unsetenv("TK7V_TEST_POSTGRES");
    EXPECT_THROW(TestDatabase{}, std::runtime_error);
    ::setenv("TK7V_TEST_POSTGRES", saved.c_str(), 1);

    TestServer server;
    server.kill();
    EXPECT_THROW(TestDatabase{server.uri()}, std::runtime_error);
}

TEST(QueryValue, FirstColumnOfFirstRow) {
    TestDatabase db;
    QueryValue(db.uri(), "CREATE TABLE t (n int, s text); INSERT INTO t VALUES (1, 'один'), (2, NULL)");
    const struct {
        const char* sql;
        std::optional<std::string> value;
    } cases[] = {
        {"SELECT s, n FROM t ORDER BY n", "один"},     // first column, first row, as text
        {"SELECT s FROM t WHERE n = 2", std::nullopt}, // NULL: not an empty text
        {"SELECT s FROM t WHERE n = 3", std::nullopt}, // no row
        {"UPDATE t SET n = n + 10", std::nullopt},     // no rows given back, but done:
        {"SELECT count(*) FROM t WHERE n > 10", "2"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(QueryValue(db.uri(), c.sql), c.value) << c.sql;
    EXPECT_THROW(QueryValue(db.uri(), "SELECT * FROM no_such_table"), std::runtime_error);
}

TEST(TestServer, GoneRefusesBackAccepts) {
    TestServer server;
    TestDatabase db(server.uri());
    QueryValue(db.uri(), "CREATE TABLE t (n int); INSERT INTO t VALUES (1)");
    // Committed just before the server goes: a server back still has it.
    QueryValue(db.uri(), "INSERT INTO t VALUES (2)");
    server.kill();
    EXPECT_THROW(QueryValue(db.uri(), "SELECT 1"), std::runtime_error);
    server.startAgain();
    EXPECT_EQ(QueryValue(db.uri(), "SELECT sum(n) FROM t"), "3");
}

TEST(TestServer, TwoStartedAtOnceRunSideBySide) {
    std::optional<TestServer> a, b;
    {
        // Joined however this thread's start ends, so that a failed one leaves no start behind.
        std::jthread other([&] {
            try {
                b.emplace();
            } catch (const std::exception& e) {
                ADD_FAILURE() << e.what();
            }
        });
        a.emplace();
    }
    ASSERT_TRUE(b);
    EXPECT_NE(a->uri(), b->uri());
    EXPECT_EQ(QueryValue(a->uri(), "SELECT 1"), "1");
    EXPECT_EQ(QueryValue(b->uri(), "SELECT 1"), "1");
}

// stop removes a folder; a wrong argument must not cost anyone a folder of their own.
TEST(TestPostgresScript, TouchesNoFolderItDidNotMake) {
    const auto folder = FreshFolder("tk7v-not-a-server");
    std::ofstream(folder / "keep") << "mine";
    for (const char* command : {"stop", "start", "kill", "start-again"})
        EXPECT_NE(RunTestPostgres({command, folder.string()}), 0) << command;
    EXPECT_TRUE(std::filesystem::exists(folder / "keep"));
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace tk7v::test
