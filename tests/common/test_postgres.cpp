#include "test_postgres.h"

#include "fresh_folder.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <unistd.h>
#include <vector>

namespace tk7v::test {
namespace {

std::string ReadUri(const std::filesystem::path& file) {
    std::string uri;
    if (!std::getline(std::ifstream(file), uri) || uri.empty())
        throw std::runtime_error("no server address in " + file.string());
    return uri;
}

// scripts/test-postgres WHAT DIR [OPTION], its address line going nowhere; whether it succeeded.
bool RunTestPostgres(const std::string& what, const std::filesystem::path& dir,
                     const std::string& option = "") {
    return std::system(("'" TK7V_TEST_POSTGRES_SCRIPT "' " + what + " '" + dir.string() + "' " + option +
                        " >/dev/null")
                           .c_str()) == 0;
}

} // namespace

std::optional<std::string> QueryValue(const std::string& uri, const std::string& sql) {
    // A limit, for a server that takes the connection and never answers; no notices (a DROP ... IF
    // EXISTS of nothing) in the test's output.
    const char* keys[] = {"dbname", "connect_timeout", "options", nullptr};
    const char* values[] = {uri.c_str(), "10", "-c client_min_messages=warning", nullptr};
    const std::unique_ptr<PGconn, decltype(&PQfinish)> c(PQconnectdbParams(keys, values, 1), &PQfinish);
    if (PQstatus(c.get()) != CONNECTION_OK)
        throw std::runtime_error("cannot connect to " + uri + ": " + PQerrorMessage(c.get()));
    const std::unique_ptr<PGresult, decltype(&PQclear)> r(PQexec(c.get(), sql.c_str()), &PQclear);
    const ExecStatusType status = PQresultStatus(r.get());
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK)
        throw std::runtime_error(sql + ": " + PQerrorMessage(c.get()));
    if (PQntuples(r.get()) == 0 || PQnfields(r.get()) == 0 || PQgetisnull(r.get(), 0, 0)) return std::nullopt;
    return std::string(PQgetvalue(r.get(), 0, 0));
}

TestDatabase::TestDatabase() {
    const char* dir = std::getenv("TK7V_TEST_POSTGRES");
    if (!dir || !*dir)
        throw std::runtime_error("TK7V_TEST_POSTGRES is not set: the test needs the postgres fixture");
    serverUri_ = ReadUri(std::filesystem::path(dir) / "uri");
    static std::atomic<int> count{0};
    name_ = "tk7v_test_" + std::to_string(::getpid()) + "_" + std::to_string(++count);
    uri_ = serverUri_.substr(0, serverUri_.rfind('/') + 1) + name_;
    // One of this name is left only by a process that had this number before and was cut short.
    QueryValue(serverUri_, "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
    QueryValue(serverUri_, "CREATE DATABASE " + name_);
}

TestDatabase::~TestDatabase() {
    try {
        QueryValue(serverUri_, "DROP DATABASE " + name_ + " WITH (FORCE)");
    } catch (const std::exception& e) {
        ADD_FAILURE() << "test database not dropped: " << e.what();
    }
}

TestServer::TestServer(Tls tls) : folder_(FreshFolder("tk7v-postgres")) {
    // Under root the server runs as nobody, who must reach the folder it owns inside this one.
    std::filesystem::permissions(folder_, std::filesystem::perms::others_exec,
                                 std::filesystem::perm_options::add);
    if (!RunTestPostgres("start", folder_ / "server", tls == Tls::On ? "--tls" : "")) {
        std::filesystem::remove_all(folder_);
        throw std::runtime_error("test server did not start in " + folder_.string());
    }
    uri_ = ReadUri(folder_ / "server" / "uri");
}

TestServer::~TestServer() {
    if (!RunTestPostgres("stop", folder_ / "server"))
        ADD_FAILURE() << "test server in " << folder_ << " did not stop";
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

void TestServer::kill() {
    if (!RunTestPostgres("kill", folder_ / "server")) throw std::runtime_error("test server did not stop");
}

void TestServer::startAgain() {
    if (!RunTestPostgres("start-again", folder_ / "server"))
        throw std::runtime_error("test server did not start again");
}

void TestServer::signalAll(int signal) {
    // The server's own number heads its lock file; its processes are its children.
    std::ifstream lock(folder_ / "server" / "data" / "postmaster.pid");
    pid_t server = 0;
    if (!(lock >> server) || server <= 0) throw std::runtime_error("no running test server to signal");
    std::vector<pid_t> all;
    std::ifstream children("/proc/" + std::to_string(server) + "/task/" + std::to_string(server) +
                           "/children");
    for (pid_t child; children >> child;)
        all.push_back(child);
    all.push_back(server); // last when stopping: it starts no process while its children stop
    if (signal == SIGCONT) std::reverse(all.begin(), all.end());
    for (const pid_t p : all)
        ::kill(p, signal);
}

void TestServer::freeze() {
    signalAll(SIGSTOP);
}

void TestServer::thaw() {
    signalAll(SIGCONT);
}

} // namespace tk7v::test
