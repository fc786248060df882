#pragma once
// What a run writes to, opened from a checked plan in one place for every front end: the day's
// report, the ledger of the rows and numbers given out (a server's; a file of its own, which
// starts with what the earlier day reports beside the report gave out; or the report itself), and
// the numbering. The front end starts its ports on reportTo() and asks the session what waits.
//
// A session outlives its run while records wait in it: the next run on the same report (and, for
// records a server did not take, the same server and list) takes them over and stores them before
// anything else; a run on another is refused until they are stored, so that no record goes where
// it does not belong and no row is kept under another list.
//
// Owned by one thread (the front end's); the report, the ledger and the numbering it hands to a
// run stay until the next open() or settle(), which the front end calls only while no run is on.
#include "numbering.h"
#include "plan.h"
#include "report.h"
#include "run.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace tk7v::station {

struct SessionProblem {
    enum class Kind {
        None,
        Report,     // the report could not be opened
        Ledger,     // the ledger's file could not be made or opened
        Address,    // the server's address cannot be used at all
        KeptReport, // records of the last run wait for another report
        KeptServer, // records of the last run wait for another server or list
    };
    Kind kind = Kind::None;
    std::string text;  // for people
    bool held = false; // another program holds the report or ledger (a spreadsheet, on Windows)
    explicit operator bool() const { return kind != Kind::None; }
};

class RunSession {
public:
    struct Options {
        std::chrono::milliseconds timeout{5000}; // each wait for a ledger's server, at most
        bool makeFolders = false; // a missing folder of the report or ledger is made (a fresh profile)
        // For a front end that keeps nothing between its runs: where records a server's ledger
        // has not taken wait for the next run (WaitingRecordsFile); none: the session keeps them.
        std::filesystem::path waitingFolder;
    };

    // Opens what `plan` names for the next run, keeping what waits from the last one. False with
    // `problem` set when it cannot be: then what waits is kept as it was.
    bool open(const Plan& plan, const Options& options, SessionProblem& problem);
    // After a run: the report and the ledger are closed unless records wait in them.
    void settle();

    // Where the ports' devices claim and record, for `command`. A station begins no device while
    // records wait with `holdWhileKept`; it reads an answering device first with `recognise`.
    ReportTo reportTo(const std::string& command, bool holdWhileKept, bool recognise) const;

    Report* report() const { return report_.get(); }
    // The ledger claims go to: its own, or the report.
    Ledger* ledger() const { return ledger_ ? ledger_.get() : report_.get(); }
    std::string reportPath() const { return report_ ? report_->name() : std::string(); }
    std::string serverName() const { return ledger_ ? ledger_->name() : std::string(); }

    // Any thread. Records the report could not take yet, and records a server did not take.
    std::size_t reportWaiting() const { return report_ ? report_->pending() : 0; }
    std::size_t serverWaiting() const { return ledger_ ? ledger_->pendingRecords() : 0; }
    // The one warning on the lines of the claims' file that held no record (empty when none, or
    // when claims go to a server), as the claims so far read it.
    std::string passedOverText() const;
    // Tries the report's waiting records again: the failure, empty once none is left.
    std::string flushReport(const LockWait& wait);

    // With a waiting folder: how many records an earlier run left for this server and list, taken
    // over by open() to be stored before anything else.
    std::size_t takenOver() const { return takenOver_; }
    // With a waiting folder: keeps the records the server has not taken in their file until the
    // next run (none left: the file goes). The file, and the failure (empty when none).
    std::string keepWaiting(std::filesystem::path& file) const;

private:
    std::unique_ptr<Report> report_;
    std::unique_ptr<Ledger> ledger_; // when not the report
    std::string list_;               // the list a server's ledger keeps its rows under
    std::unique_ptr<Numbering> numbering_;
    std::filesystem::path waitingFile_; // with a waiting folder and a server's ledger
    std::size_t takenOver_ = 0;
};

// The ledger both front ends keep when none is chosen: one undated file in the user's documents,
// for every day and every report.
std::string DefaultLedger();

// The day reports a station keeps in `report`'s folder ("Станция ТК-7В YYYY-MM-DD.csv"), oldest
// first; `report` itself among them when it is one.
std::vector<std::filesystem::path> DayReportsBeside(const std::string& report);

// A new file ledger at `ledger` starts with what `reports` gave out: their records, one after
// another under the first one's headings. Nothing is done when the ledger exists or none of the
// reports is of its kind. The failure, empty when none.
std::string SeedLedger(const std::string& ledger, const std::vector<std::filesystem::path>& reports);

} // namespace tk7v::station
