// libpq as the programs link it: on Windows the static library scripts/build-libpq-windows makes,
// which must keep its own threading functions to itself (libpq's Windows build defines
// pthread_mutex_lock and friends, which winpthreads, and so std::mutex, define as well) and fail
// a connection that cannot be made with a status and a message, not a crash.
#include <libpq-fe.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// Nothing listens on port 1 here: the system refuses the connection at once.
constexpr const char* Refused = "host=127.0.0.1 port=1 connect_timeout=2";
// What libpq says of the refusal, not of a failure before it: on Windows the system's text in its
// language and the code of WSAECONNREFUSED. (Windows refuses a socket to a program that has not
// called WSAStartup, which libpq calls for each connection; Wine makes the socket all the same.)
#ifdef _WIN32
constexpr const char* RefusedText = "/10061)";
#else
constexpr const char* RefusedText = "Connection refused";
#endif

struct Attempt {
    ConnStatusType status = CONNECTION_OK;
    std::string message;
};

Attempt Connect(const char* conninfo) {
    const std::unique_ptr<PGconn, decltype(&PQfinish)> conn(PQconnectdb(conninfo), PQfinish);
    if (!conn) return {CONNECTION_OK, "PQconnectdb returned no connection"};
    return {PQstatus(conn.get()), PQerrorMessage(conn.get())};
}

} // namespace

TEST(Libpq, IsAThreadSafeBuildOfAVersionWithTwoParts) {
    // Each port of a station has a thread of its own, and each may reach the ledger's server.
    EXPECT_EQ(PQisthreadsafe(), 1);
    EXPECT_GE(PQlibVersion(), 100000);
}

TEST(Libpq, ARefusedConnectionIsBadWithTheServersAddressInItsMessage) {
    const auto start = std::chrono::steady_clock::now();
    const Attempt attempt = Connect(Refused);
    EXPECT_EQ(attempt.status, CONNECTION_BAD) << attempt.message;
    EXPECT_NE(attempt.message.find("\"127.0.0.1\", port 1"), std::string::npos) << attempt.message;
    EXPECT_NE(attempt.message.find(RefusedText), std::string::npos) << attempt.message;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(Libpq, ThreadsConnectAtOnceBesideTheProgramsOwnMutexes) {
    constexpr int threads = 4;
    std::mutex mutex; // the program's, through winpthreads on Windows
    std::vector<Attempt> attempts;
    std::vector<std::thread> running;
    for (int i = 0; i < threads; ++i) {
        running.emplace_back([&] {
            const Attempt attempt = Connect(Refused);
            std::lock_guard lock(mutex);
            attempts.push_back(attempt);
        });
    }
    for (auto& t : running)
        t.join();
    ASSERT_EQ(attempts.size(), std::size_t{threads});
    for (const Attempt& attempt : attempts)
        EXPECT_EQ(attempt.status, CONNECTION_BAD) << attempt.message;
}
