#include "test_postgres.h"

#include "fresh_folder.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <memory>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tk7v::test {
namespace {

using Connection = std::unique_ptr<PGconn, decltype(&PQfinish)>;
using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

Connection Connect(const std::string& uri) {
    // A server that takes the connection but never answers would otherwise hold the test forever.
    // Notices (a DROP ... IF EXISTS of nothing) would only clutter the test's output.
    const char* keys[] = {"dbname", "connect_timeout", "options", nullptr};
    const char* values[] = {uri.c_str(), "10", "-c client_min_messages=warning", nullptr};
    Connection c(PQconnectdbParams(keys, values, 1), &PQfinish);
    if (!c) throw std::runtime_error("libpq: out of memory");
    if (PQstatus(c.get()) != CONNECTION_OK)
        throw std::runtime_error("cannot connect to " + uri + ": " + PQerrorMessage(c.get()));
    return c;
}

std::string ReadUri(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string uri;
    if (!std::getline(in, uri) || uri.empty())
        throw std::runtime_error("no server address in " + file.string());
    return uri;
}

std::string FixtureServerUri() {
    const char* dir = std::getenv("TK7V_TEST_POSTGRES");
    if (!dir || !*dir)
        throw std::runtime_error("TK7V_TEST_POSTGRES is not set: this test needs the postgres fixture "
                                 "(tk7v_needs_postgres in tests/CMakeLists.txt)");
    return ReadUri(std::filesystem::path(dir) / "uri");
}

// The same server's database `name`: the address with its last part replaced.
std::string DatabaseUri(const std::string& serverUri, const std::string& name) {
    return serverUri.substr(0, serverUri.rfind('/') + 1) + name;
}

} // namespace

std::optional<std::string> QueryValue(const std::string& uri, const std::string& sql) {
    Connection c = Connect(uri);
    Result r(PQexec(c.get(), sql.c_str()), &PQclear);
    const ExecStatusType status = PQresultStatus(r.get());
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK)
        throw std::runtime_error(sql + ": " + PQerrorMessage(c.get()));
    if (PQntuples(r.get()) == 0 || PQnfields(r.get()) == 0 || PQgetisnull(r.get(), 0, 0)) return std::nullopt;
    return std::string(PQgetvalue(r.get(), 0, 0));
}

int RunTestPostgres(const std::vector<std::string>& args) {
    const std::string script = TK7V_TEST_POSTGRES_SCRIPT;
    std::vector<std::string> words{script};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, script.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (spawned != 0) throw std::runtime_error("cannot run " + script);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) throw std::runtime_error("waitpid for " + script);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TestDatabase::TestDatabase() : TestDatabase(FixtureServerUri()) {}

TestDatabase::TestDatabase(std::string serverUri) : serverUri_(std::move(serverUri)) {
    static std::atomic<int> count{0};
    name_ = "tk7v_test_" + std::to_string(::getpid()) + "_" + std::to_string(++count);
    uri_ = DatabaseUri(serverUri_, name_);
    // A database of this name can only be left from a process that had this number before and
    // ended without dropping it.
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

TestServer::TestServer() : folder_(FreshFolder("tk7v-postgres")) {
    // Under root the server runs as nobody, who must reach the folder it owns inside this one.
    std::filesystem::permissions(folder_, std::filesystem::perms::others_exec,
                                 std::filesystem::perm_options::add);
    const auto dir = (folder_ / "server").string();
    if (RunTestPostgres({"start", dir}) != 0) {
        std::filesystem::remove_all(folder_);
        throw std::runtime_error("test server did not start in " + dir);
    }
    uri_ = ReadUri(folder_ / "server" / "uri");
}

TestServer::~TestServer() {
    if (RunTestPostgres({"stop", (folder_ / "server").string()}) != 0)
        ADD_FAILURE() << "test server in " << folder_.string() << " did not stop";
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

void TestServer::kill() {
    if (RunTestPostgres({"kill", (folder_ / "server").string()}) != 0)
        throw std::runtime_error("test server did not stop");
}

void TestServer::startAgain() {
    if (RunTestPostgres({"start-again", (folder_ / "server").string()}) != 0)
        throw std::runtime_error("test server did not start again");
}

} // namespace tk7v::test
