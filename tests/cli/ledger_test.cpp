// tk7v-cli with its ledger on a PostgreSQL server: a server it cannot reach begins nothing, and
// `ledger show` names each device a number or row went to, from a server as from a file.
#include "../common/sim_process.h"
#include "../common/test_postgres.h"
#include "cli_run.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

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
}

// The same devices, claimed through a server and through a report that is its own ledger: each
// shows one row and one number, with the device's identification, port and end.
TEST_F(CliLedger, ShowNamesTheDeviceOfEachValue) {
    tk7v::test::TestDatabase db;
    ASSERT_EQ(run({"new", "-o", path("site.cfg")}).status, 0);
    std::ofstream(path("phones.csv")) << "CS1_phone_1\n1111\n2222\n";
    for (const std::string& ledger : {db.uri(), path("ledger.jsonl"), path("ledger.csv")}) {
        SCOPED_TRACE(ledger);
        SimProcess sim({"--ident", "TK7V v2.6 #" + ledger.substr(ledger.size() - 3)});
        const auto w =
            run({"write", path("site.cfg"), "--port", sim.port(), "--values", path("phones.csv"), "--number",
                 "TS_object_id=101-199", ledger == db.uri() ? "--ledger" : "--report", ledger});
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
            EXPECT_EQ(v["result"], "done");
        }
        const auto table = run({"ledger", "show", ledger, "--field", "TS_object_id"});
        EXPECT_NE(table.out.find("Номер объекта (TS_object_id)  101"), npos) << table.out;
        EXPECT_EQ(table.out.find("строка списка"), npos) << table.out;
    }
    EXPECT_EQ(run({"ledger", "show", path("none.csv")}).status, 3);
    EXPECT_FALSE(std::filesystem::exists(path("none.csv")));
}
