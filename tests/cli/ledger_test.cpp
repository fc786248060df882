// tk7v-cli with its ledger on a PostgreSQL server: a server it cannot reach begins nothing, and
// `ledger show` names each device a number or row went to, from a server as from a file.
#include "../common/sim_process.h"
#include "../common/test_postgres.h"
#include "cli_run.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <fstream>

using tk7v::test::SimProcess;
using CliLedger = tk7v::test::CliFixture;

namespace {
constexpr auto npos = std::string::npos;
}

// As a port that cannot be used: status 1, the port's line says why, the device is not touched.
TEST_F(CliLedger, AServerNeverReachedBeginsNothing) {
    ASSERT_EQ(run({"new", "-o", path("site.cfg")}).status, 0);
    SimProcess sim;
    for (const bool loop : {false, true}) {
        std::vector<std::string> args{
            "write",    path("site.cfg"),       "--port",   sim.port(),
            "--number", "TS_object_id=101-199", "--ledger", "postgresql://tk7v@127.0.0.1:1/ledger"};
        if (loop) args.push_back("--loop");
        const auto r = run(args);
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find(sim.port() + ": учёт номеров недоступен: "), npos) << r.err;
    }
    EXPECT_EQ(sim.log(), "") << "the device was spoken to";
    EXPECT_EQ(run({"ledger", "show", "postgresql://tk7v@127.0.0.1:1/ledger", "--timeout", "1"}).status, 1);
}

// The same devices, claimed through a server and through a file ledger of either kind: each
// shows one row and one number, with the device's identification, port and end.
TEST_F(CliLedger, ShowNamesTheDeviceOfEachValue) {
    tk7v::test::TestDatabase db;
    ASSERT_EQ(run({"new", "-o", path("site.cfg")}).status, 0);
    std::ofstream(path("phones.csv")) << "CS1_phone_1\n1111\n2222\n";
    for (const std::string& ledger : {db.uri(), path("ledger.jsonl"), path("ledger.csv")}) {
        SCOPED_TRACE(ledger);
        SimProcess sim({"--ident", "TK7V v2.6 #" + ledger.substr(ledger.size() - 3)});
        const auto w = run({"write", path("site.cfg"), "--port", sim.port(), "--values", path("phones.csv"),
                            "--number", "TS_object_id=101-199", "--ledger", ledger});
        ASSERT_EQ(w.status, 0) << w.err;
        const auto shown = run({"ledger", "show", ledger, "--json"});
        ASSERT_EQ(shown.status, 0) << shown.err;
        const auto list = nlohmann::json::parse(shown.out);
        ASSERT_EQ(list.size(), 2u) << shown.out;
        EXPECT_EQ(list[0]["value"], 2);
        EXPECT_EQ(list[1]["field"], "TS_object_id");
        EXPECT_EQ(list[1]["value"], 101);
        for (const auto& v : list) {
            EXPECT_EQ(v["identification"], "TK7V v2.6 #" + ledger.substr(ledger.size() - 3));
            EXPECT_EQ(v["port"], sim.port());
            // A file ledger keeps the claims; the device's end is the day report's (and the
            // server's, which keeps every station's records).
            EXPECT_EQ(v["result"], ledger == db.uri() ? "done" : "claimed");
        }
        const auto table = run({"ledger", "show", ledger, "--field", "TS_object_id"});
        EXPECT_NE(table.out.find("Номер объекта (TS_object_id)  101"), npos) << table.out;
        EXPECT_EQ(table.out.find("строка списка"), npos) << table.out;
    }
    EXPECT_EQ(run({"ledger", "show", path("none.csv")}).status, 3);
    EXPECT_FALSE(std::filesystem::exists(path("none.csv")));

    // The file's ledger moved to a server of its own: the next device there goes on after it,
    // and a second import adds nothing.
    tk7v::test::TestDatabase moved;
    for (const char* given : {"выданных значений: 2.", "выданных значений: 0, уже были на сервере: 2."}) {
        const auto imported = run({"ledger", "import", path("ledger.csv"), "--to", moved.uri()});
        EXPECT_EQ(imported.status, 0) << imported.err;
        EXPECT_NE(imported.out.find(given), npos) << imported.out;
    }
    SimProcess next;
    const auto w = run({"write", path("site.cfg"), "--port", next.port(), "--values", path("phones.csv"), "--number",
                        "TS_object_id=101-199", "--ledger", moved.uri()});
    EXPECT_NE(w.out.find("строка 3, TS_object_id=102"), npos) << w.out << w.err;
}

// Ctrl+C while a device's record waits for a server that hangs: the station ends within half a
// second, keeps the record in the user's data, says so, and the next start stores it.
TEST_F(CliLedger, AStopWithAFrozenServerKeepsTheRecordForTheNextStart) {
    tk7v::test::TestServer server;
    ASSERT_EQ(run({"new", "-o", path("site.cfg")}).status, 0);
    SimProcess slow({"--baud", "2400"}), next;
    tk7v::test::Cli station({"write", path("site.cfg"), "--port", slow.port(), "--baud", "2400",
                             "--no-verify", "--loop", "--number", "TS_object_id=101-199", "--ledger",
                             server.uri()});
    // Frozen once the number is claimed and the write is on its way: the record waits.
    ASSERT_TRUE(tk7v::test::waitUntil([&] { return station.errSoFar().find("Запись данных") != npos; }));
    server.freeze();
    ASSERT_TRUE(tk7v::test::waitUntil([&] { return station.errSoFar().find("сервер не отвечает") != npos; }))
        << station.errSoFar();
    const auto asked = std::chrono::steady_clock::now();
    ::kill(station.pid(), SIGINT);
    const auto stopped = station.finish(std::chrono::seconds(5));
    const auto took = std::chrono::steady_clock::now() - asked;
    server.thaw();
#ifdef TK7V_SANITIZED
    EXPECT_LT(took, std::chrono::milliseconds(1500));
#else
    EXPECT_LT(took, std::chrono::milliseconds(500));
#endif
    EXPECT_NE(stopped.err.find("будут переданы при следующем запуске"), npos) << stopped.err;
    EXPECT_EQ(stopped.err.find("Записи не сохранены"), npos) << stopped.err;
    EXPECT_EQ(tk7v::test::QueryValue(server.uri(), "SELECT count(*) FROM tk7v_records WHERE result = 'done'"),
              "0");

    const auto again = run({"write", path("site.cfg"), "--port", next.port(), "--number",
                            "TS_object_id=101-199", "--ledger", server.uri()});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.err.find("Записи прошлого запуска переданы на сервер учёта номеров: 1."), npos)
        << again.err;
    EXPECT_EQ(tk7v::test::QueryValue(server.uri(),
                                     "SELECT string_agg(port || ' ' || result || ' ' || numbers, "
                                     "', ' ORDER BY id) FROM tk7v_records WHERE result <> 'claimed'"),
              slow.port() + " done TS_object_id=101, " + next.port() + " done TS_object_id=102");
}
