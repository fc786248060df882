// libpq as the programs link it: on Windows the static library scripts/build-libpq-windows makes,
// which must keep its own threading functions to itself (libpq's Windows build defines
// pthread_mutex_lock and friends, which winpthreads, and so std::mutex, define as well). Each port
// of a station reaches the ledger's server from a thread of its own.
#include <libpq-fe.h>

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

TEST(Libpq, ThreadsBesideTheProgramsOwnMutexesAreRefusedCleanly) {
    EXPECT_EQ(PQisthreadsafe(), 1);
    std::mutex mutex; // the program's, through winpthreads on Windows
    std::vector<std::string> refusals;
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] {
            // Nothing listens on port 1: the system refuses the connection at once.
            const std::unique_ptr<PGconn, decltype(&PQfinish)> conn(
                PQconnectdb("host=127.0.0.1 port=1 connect_timeout=2"), PQfinish);
            std::lock_guard lock(mutex);
            if (conn && PQstatus(conn.get()) == CONNECTION_BAD)
                refusals.push_back(PQerrorMessage(conn.get()));
        });
    for (auto& t : threads)
        t.join();
    ASSERT_EQ(refusals.size(), 4u);
    EXPECT_NE(refusals[0].find("\"127.0.0.1\", port 1"), std::string::npos) << refusals[0];
}
