// What a run opens: the ledger it names, a new file ledger that starts with what earlier day
// reports gave out, and records left waiting by the last run that go only with their own ledger.
#include "station/run_session.h"

#include "../common/fresh_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace tk7v::station;
namespace fs = std::filesystem;

namespace {

ReportRecord Numbered(long long number) {
    ReportRecord r;
    r.result = "done";
    r.given.numbers = {"TS_object_id=" + std::to_string(number)};
    return r;
}

Plan PlanOn(const fs::path& report, const std::string& ledger, const std::string& list = "phones.csv") {
    Plan plan;
    plan.counter = Counter{"TS_object_id", 101, 200};
    plan.report = report.string();
    plan.ledger = ledger;
    plan.listName = list;
    return plan;
}

} // namespace

// A day report cut mid-line (a full disk, a crash) is followed in the new ledger by the next day's
// records, each on a line of its own: none of their numbers is given again.
TEST(RunSession, NewFileLedgerStartsWithWhatEarlierDaysGave) {
    const fs::path dir = tk7v::test::FreshFolder("tk7v-session");
    for (const auto& [date, number, cut] : {std::tuple{"01", 101, "\"ttyUSB1\";\"TK7V"}, {"02", 102, ""}}) {
        const fs::path path = dir / (std::string("Станция ТК-7В 2026-12-") + date + ".csv");
        std::string error;
        ASSERT_TRUE(Report::open(path.string(), error)->add(Numbered(number)).empty());
        std::ofstream(path, std::ios::app | std::ios::binary) << cut;
    }
    RunSession session;
    SessionProblem problem;
    ASSERT_TRUE(
        session.open(PlanOn(dir / "Станция ТК-7В 2026-12-03.csv", (dir / "учёт.csv").string()), {}, problem))
        << problem.text;
    std::optional<long long> highest;
    std::string error;
    ASSERT_TRUE(session.ledger()->look(
        [&](const GivenSoFar& given) { highest = given.highest("TS_object_id", 0, 8191); }, error))
        << error;
    EXPECT_EQ(highest, 102);
    fs::remove_all(dir);
}

#ifdef TK7V_SERVER_TESTS
// Each run claims from the ledger it names, not from the one the run before used. Records a server
// did not take go with the next run on the same server and list only: a run on another list would
// store them, and keep its rows, under the wrong list.
TEST(RunSession, EachRunOnItsLedgerAndWaitingRecordsOnTheirs) {
    const fs::path dir = tk7v::test::FreshFolder("tk7v-session");
    const std::string a = "postgresql://tk7v@127.0.0.1:1/a",
                      b = "postgresql://tk7v@127.0.0.1:1/b"; // no server
    const std::string file = (dir / "учёт.csv").string();
    RunSession session;
    SessionProblem problem;
    for (const std::string& ledger : {a, b, file, a}) {
        ASSERT_TRUE(session.open(PlanOn(dir / "r.csv", ledger), {}, problem)) << problem.text;
        EXPECT_EQ(session.ledger()->name(), ledger);
    }
    EXPECT_FALSE(session.ledger()->record(Numbered(101), LockWait::Once()).empty());
    session.settle();
    for (const auto& [ledger, list, opens] : {std::tuple{a, "other.csv", false},
                                              {b, "phones.csv", false},
                                              {file, "phones.csv", false},
                                              {a, "phones.csv", true}}) {
        SCOPED_TRACE(ledger + " " + list);
        EXPECT_EQ(session.open(PlanOn(dir / "r.csv", ledger, list), {}, problem), opens);
        EXPECT_EQ(problem.kind, opens ? SessionProblem::Kind::None : SessionProblem::Kind::KeptServer);
        EXPECT_EQ(session.serverWaiting(), 1u);
        EXPECT_EQ(session.serverName(), a);
    }
    fs::remove_all(dir);
}
#endif
