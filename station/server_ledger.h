#pragma once
// A ledger kept by a PostgreSQL server, for many stations on many computers: the rows and numbers
// given out, each in a table whose unique key (field and value; list and row) no two claims can
// share, and the record of every device. A claim is one transaction under a lock the server holds
// for every station at once, committed before the device's first chunk; a claim whose commit was
// not seen to succeed fails, and its device is not written.
//
// The tables are made on first use and carry their version; a newer version than this program
// knows is refused. The password is never in the address: libpq reads it from ~/.pgpass (on
// Windows %APPDATA%\postgresql\pgpass.conf) or PGPASSWORD.
//
// Every wait for the server has a limit and is ended at once by a stop: a connection that a stop
// or a limit cut short is dropped, which ends its transaction on the server, and made again by the
// next call.
#include "ledger.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tk7v::station {

// Whether `where` names a server ("postgresql://…", "postgres://…") rather than a file.
bool IsServerAddress(const std::string& where);
// `address` without the secrets it may carry (a password after the user's name, a password= or
// sslpassword= parameter), whether or not it parses: what may be shown, echoed or kept of it.
std::string AddressWithoutSecrets(const std::string& address);

class ServerLedger : public Ledger {
public:
    static constexpr int kSchemaVersion = 2;

    struct Options {
        std::string address;                     // postgresql://user@host[:port]/database[?parameters]
        std::string list;                        // the list whose rows are claimed: the table's file name
        std::string station;                     // this computer, in the records
        std::chrono::milliseconds timeout{5000}; // each wait for the server, at most
    };
    // Null with `error` set when the address cannot be used at all (not one, a password in it, a
    // build without the client library). Nothing is connected yet.
    static std::unique_ptr<ServerLedger> open(const Options& options, std::string& error);
    ~ServerLedger() override;

    bool ready(std::string& error, const LockWait& wait = {}) override;
    bool claim(const Choose& choose, std::string& error, const LockWait& wait = {}) override;
    bool look(const Ask& ask, std::string& error, const LockWait& wait = {}) override;
    bool entries(const EachEntry& each, std::string& error, const LockWait& wait = {}) override;
    // Each value given out, once, in the order given, with the device's last word; read as the
    // server sends it.
    bool givenValues(const std::function<void(const GivenValue&)>& each, std::string& error);
    // Records of a file ledger `from`, oldest first, kept here with every value they gave, in one
    // transaction; a value given here already stays as it is. Rows named only by their place (by
    // earlier versions) are kept under `legacyList`, the list's file name.
    bool importEntries(const std::vector<LedgerEntry>& entries, const std::string& from, const std::string& legacyList,
                       ImportCount& count, std::string& error);
    std::string name() const override { return options_.address; }

    bool keepsRecords() const override { return true; }
    std::string record(const ReportRecord& record, const LockWait& wait = {}) override;
    std::string flushRecords(const LockWait& wait = {}) override;
    std::size_t pendingRecords() const override { return keptCount_; }
    std::vector<ReportRecord> keptRecords() const override;
    void keepRecords(const std::vector<ReportRecord>& records) override;

    class Session; // the connection and one call's waits on it
    class Answers; // what has been given out, asked of the server
    struct Call;   // one call's limit and stop

private:
    explicit ServerLedger(Options options);
    // Takes the connection for `call`: waits for the call before it within the call's limit, and
    // a stop ends the wait, so that no call waits unbounded behind one a frozen server holds.
    // One call at a time on the connection: a mutex and a condition rather than a timed mutex,
    // whose timed wait the thread checker does not follow.
    struct Turn {
        std::mutex mutex;
        std::condition_variable free;
        bool taken = false;
    };
    // The turn, held until this goes.
    struct Held {
        Held() = default;
        Held(const Held&) = delete;
        Held& operator=(const Held&) = delete;
        ~Held();
        Turn* turn = nullptr;
    };
    bool lockFor(Call& call, Held& held, std::string& error);
    // The connection, made (and the tables with it) when there is none; the turn held.
    bool connectLocked(Call& call, std::string& error);
    // The records kept, stored in the session's open transaction; false with the session's why.
    bool storeKeptLocked(Call& call, std::size_t& stored);
    void forgetStored(std::size_t stored);
    std::string failedLocked(); // the session's failure, for people; drops the connection
    // Each row of `query`, its cells as text, fetched a few thousand at a time.
    using RowCells = std::vector<std::string>;
    bool readRows(const std::string& query, int columns, const std::function<void(const RowCells&)>& each,
                  std::string& error, const LockWait& wait);

    Options options_;
    Turn turn_; // one call at a time on the connection
    std::unique_ptr<Session> session_;
    // Records not yet stored, oldest first. A record is kept at once, whatever call holds the
    // connection: keeping it must never wait for the server.
    mutable std::mutex keptMutex_;
    std::vector<ReportRecord> kept_; // under keptMutex_
    std::atomic<std::size_t> keptCount_{0};
};

} // namespace tk7v::station
