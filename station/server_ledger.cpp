#include "server_ledger.h"

#include "report.h"

#include "link/network.h"

#ifdef TK7V_HAVE_LIBPQ
#include "libpq_calls.h"
#endif

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <optional>

namespace tk7v::station {

bool IsServerAddress(const std::string& where) {
    return where.rfind("postgresql://", 0) == 0 || where.rfind("postgres://", 0) == 0;
}

std::string AddressWithoutSecrets(const std::string& address) {
    std::string out = address;
    // The user's part: "user:password@" keeps its user.
    const std::size_t scheme = out.find("://");
    const std::size_t from = scheme == std::string::npos ? 0 : scheme + 3;
    const std::size_t end = std::min(out.find_first_of("/?", from), out.size());
    const std::size_t at = out.rfind('@', end == 0 ? 0 : end - 1);
    if (at != std::string::npos && at >= from) {
        const std::size_t colon = out.find(':', from);
        if (colon < at) out.erase(colon, at - colon);
    }
    // The parameters that hold a secret go whole, whatever their spelling of case.
    const std::size_t query = out.find('?');
    if (query == std::string::npos) return out;
    std::string kept;
    std::size_t p = query + 1;
    while (p <= out.size()) {
        const std::size_t amp = std::min(out.find('&', p), out.size());
        const std::string param = out.substr(p, amp - p);
        std::string key = param.substr(0, param.find('='));
        for (char& ch : key)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if (key != "password" && key != "sslpassword" && !param.empty())
            kept += (kept.empty() ? "" : "&") + param;
        p = amp + 1;
    }
    return out.substr(0, query) + (kept.empty() ? "" : "?" + kept);
}

#ifdef TK7V_HAVE_LIBPQ

namespace {

// How often a wait on the server looks at its stop.
constexpr auto kSlice = std::chrono::milliseconds(50);
// The server's advisory locks (any two numbers no other program uses): one every station's claims
// take turns at, one for making the tables.
constexpr const char* kClaimLock = "SELECT pg_advisory_xact_lock(7410173001)";
// What the tables lack of what this version made: each column, and the keys that keep a value
// from being given twice; empty when nothing. A table changed by hand (a key dropped) is not used.
constexpr const char* kTablesChanged = R"(
SELECT coalesce(string_agg(what, ', '), '') FROM (
  SELECT want.t || '.' || want.c AS what
  FROM (VALUES ('tk7v_schema', 'version'), ('tk7v_records', 'id'), ('tk7v_records', 'station'),
               ('tk7v_records', 'port'), ('tk7v_records', 'identification'), ('tk7v_records', 'command'),
               ('tk7v_records', 'file'), ('tk7v_records', 'sha256'), ('tk7v_records', 'started'),
               ('tk7v_records', 'ended'), ('tk7v_records', 'result'), ('tk7v_records', 'message'),
               ('tk7v_records', 'differing'), ('tk7v_records', 'list'), ('tk7v_records', 'list_row'),
               ('tk7v_records', 'numbers'), ('tk7v_given', 'field'), ('tk7v_given', 'list'),
               ('tk7v_given', 'value'), ('tk7v_given', 'record'), ('tk7v_records', 'row_values'),
               ('tk7v_given_rows', 'row_values'), ('tk7v_given_rows', 'list'), ('tk7v_given_rows', 'list_row'),
               ('tk7v_given_rows', 'record')) AS want(t, c)
  WHERE NOT EXISTS (SELECT 1 FROM information_schema.columns
                    WHERE table_schema = current_schema() AND table_name = want.t AND column_name = want.c)
  UNION ALL
  SELECT 'уникальный ключ ' || key.t || ' (' || array_to_string(key.cols, ', ') || ')'
  FROM (VALUES ('tk7v_given', ARRAY['field', 'list', 'value']), ('tk7v_records', ARRAY['id']),
               ('tk7v_given_rows', ARRAY['row_values'])) AS key(t, cols)
  WHERE NOT EXISTS (
    SELECT 1 FROM pg_index i
    WHERE i.indrelid = to_regclass(key.t) AND i.indisunique
      AND ARRAY(SELECT a.attname::text FROM unnest(i.indkey) WITH ORDINALITY AS k(n, o)
                JOIN pg_attribute a ON a.attrelid = i.indrelid AND a.attnum = k.n ORDER BY k.o) = key.cols)
) AS lacking
)";

constexpr const char* kTablesLock = "SELECT pg_advisory_xact_lock(7410173000)";

constexpr const char* kTables = R"(
CREATE TABLE tk7v_schema (version integer NOT NULL);
CREATE TABLE tk7v_records (
  id bigserial PRIMARY KEY,
  station text NOT NULL,
  port text NOT NULL,
  identification text NOT NULL,
  command text NOT NULL,
  file text NOT NULL,
  sha256 text NOT NULL,
  started timestamptz NOT NULL,
  ended timestamptz NOT NULL,
  result text NOT NULL,
  message text NOT NULL,
  differing text NOT NULL,
  list text NOT NULL,
  list_row integer,
  numbers text NOT NULL
);
CREATE TABLE tk7v_given (
  field text NOT NULL,
  list text NOT NULL,
  value bigint NOT NULL,
  record bigint NOT NULL REFERENCES tk7v_records (id),
  UNIQUE (field, list, value)
);
INSERT INTO tk7v_schema VALUES (1);
)";

// From version 1 to 2: a list's rows are given by their values (in tk7v_given_rows), whatever the
// list's name. The rows version 1 gave, kept in tk7v_given under their list's file name, stay
// given to lists of that name.
constexpr const char* kTablesTo2 = R"(
ALTER TABLE tk7v_records ADD COLUMN row_values text NOT NULL DEFAULT '';
CREATE TABLE tk7v_given_rows (
  row_values text NOT NULL,
  list text NOT NULL,
  list_row integer NOT NULL,
  record bigint NOT NULL REFERENCES tk7v_records (id),
  UNIQUE (row_values)
);
CREATE INDEX tk7v_records_values ON tk7v_records (numbers, row_values, id);
UPDATE tk7v_schema SET version = 2;
)";

// The first line of a message of libpq or the server, without its line break.
std::string FirstLine(const char* text) {
    std::string s = text ? text : "";
    s = s.substr(0, s.find('\n'));
    while (!s.empty() && (s.back() == ' ' || s.back() == '\r'))
        s.pop_back();
    return s;
}

// A server's database in UTF-8 refuses anything else; a record is never lost for a stray byte of a
// device's line: each byte that does not begin a whole UTF-8 sequence becomes "?".
std::string WholeUtf8(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t n = c < 0x80           ? 1
                              : (c >> 5) == 0x6  ? 2
                              : (c >> 4) == 0xE  ? 3
                              : (c >> 3) == 0x1E ? 4
                                                 : 0;
        bool whole = n > 0 && i + n <= s.size() && (n == 1 || c >= 0xC2);
        for (std::size_t k = 1; whole && k < n; ++k)
            whole = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
        if (whole && c != 0) {
            out.append(s, i, n);
            i += n;
        } else {
            out += '?';
            ++i;
        }
    }
    return out;
}

using Param = std::optional<std::string>; // none: SQL NULL
void ClearResult(PGresult* r) {
    PQclear(r);
}
using Result = std::unique_ptr<PGresult, void (*)(PGresult*)>;

} // namespace

// One call on the ledger: its waits for the server bounded by the call's limit and ended by its
// stop.
struct ServerLedger::Call {
    Call(const LockWait& wait, std::chrono::milliseconds timeout)
        : wait(wait), start(std::chrono::steady_clock::now()), until(start + std::min(timeout, wait.limit)) {}
    const LockWait& wait;
    std::chrono::steady_clock::time_point start, until;
    bool said = false;
};

// The connection, and the talk of one call with the server.
class ServerLedger::Session {
public:
    ~Session() { PQfinish(conn_); }

    // Why the last step failed, and whether for the connection (the server gone, not answering,
    // a limit or a stop) rather than for what was asked.
    std::string why;
    bool lost = false;

    // Why a connection was not made, by its cause for people, the words of libpq or the server
    // after a colon: how far it got tells a server that took no connection from one that refused
    // this user, and both from an encrypted connection this side would not have (a server
    // certificate its CA file does not vouch for, or made out to another name; a server without
    // TLS when sslmode asks for it), which is no refusal of the server's.
    std::string connectFailure(bool connected, bool authenticated, bool securing) const {
        const std::string words = FirstLine(PQerrorMessage(conn_));
        if (PQconnectionNeedsPassword(conn_))
            return "сервер требует пароль, а его нет ни в ~/.pgpass, ни в PGPASSWORD: " + words;
        if (securing) {
            // libpq's words in English or, translated, in the user's language, or OpenSSL's.
            if (words.find("certificate") != std::string::npos ||
                words.find("сертификат") != std::string::npos)
                return "сертификат сервера не принят: " + words;
            return "шифрованное соединение с сервером не установлено: " + words;
        }
        if (!connected) return "сервер не принимает соединений: " + words;
        if (PQconnectionUsedPassword(conn_) && !authenticated) return "сервер не принял пароль: " + words;
        return "сервер отказал в соединении: " + words;
    }

    // Connects within the call: null, with `why`, when the server cannot be reached.
    static std::unique_ptr<Session> Connect(const std::string& address, Call& call, std::string& why) {
        const char* keys[] = {"dbname", "application_name", "client_encoding", nullptr};
        const char* values[] = {address.c_str(), "tk7v", "UTF8", nullptr};
        auto s = std::unique_ptr<Session>(new Session(PQconnectStartParams(keys, values, 1)));
        if (!s->conn_) {
            why = "нет памяти";
            return nullptr;
        }
        PostgresPollingStatusType st =
            PQstatus(s->conn_) == CONNECTION_BAD ? PGRES_POLLING_FAILED : PGRES_POLLING_WRITING;
        bool connected = false, authenticated = false, securing = false;
        while (st != PGRES_POLLING_OK) {
            if (st == PGRES_POLLING_FAILED) s->why = s->connectFailure(connected, authenticated, securing);
            if (st == PGRES_POLLING_FAILED || !s->waitSocket(st == PGRES_POLLING_WRITING, call, true)) {
                why = s->why;
                return nullptr;
            }
            st = PQconnectPoll(s->conn_);
            // The state before a failure says where it failed: a step that fails ends in
            // CONNECTION_BAD. libpq may start again without TLS (sslmode=prefer), so a later
            // state clears `securing`.
            const ConnStatusType status = PQstatus(s->conn_);
            if (status != CONNECTION_BAD) securing = status == CONNECTION_SSL_STARTUP;
            switch (status) {
            case CONNECTION_BAD:
            case CONNECTION_STARTED:
            case CONNECTION_NEEDED:
                break;
            case CONNECTION_MADE:
            case CONNECTION_AWAITING_RESPONSE:
            case CONNECTION_SSL_STARTUP:
            case CONNECTION_GSS_STARTUP:
                connected = true;
                break;
            default: // past the authentication
                connected = authenticated = true;
                break;
            }
        }
        // Sends and reads never block: every wait is on the socket, within the call.
        PQsetnonblocking(s->conn_, 1);
        // The server's notices (a shutdown's warning) would go to standard error, into a
        // terminal's progress lines: what matters reaches the caller as a failure.
        PQsetNoticeProcessor(
            s->conn_, [](void*, const char*) {}, nullptr);
        return s;
    }

    bool ok() const { return PQstatus(conn_) == CONNECTION_OK; }

    // One statement (several when there are no parameters), its last result; null with `why`.
    Result exec(Call& call, const char* sql, const std::vector<Param>& params = {}) {
        Result none(nullptr, ClearResult);
        std::vector<const char*> values;
        for (const Param& p : params)
            values.push_back(p ? p->c_str() : nullptr);
        const int sent = params.empty() ? PQsendQuery(conn_, sql)
                                        : PQsendQueryParams(conn_, sql, static_cast<int>(values.size()),
                                                            nullptr, values.data(), nullptr, nullptr, 0);
        if (!sent) return failed(none);
        for (;;) {
            const int f = PQflush(conn_);
            if (f == 0) break;
            if (f < 0) return failed(none);
            if (!waitSocket(true, call, false)) return failed(none, true);
        }
        Result last(nullptr, ClearResult);
        std::string error, code;
        for (;;) {
            while (PQisBusy(conn_)) {
                if (!waitSocket(false, call, false)) return failed(none, true);
                if (!PQconsumeInput(conn_)) return failed(none);
            }
            PGresult* r = PQgetResult(conn_);
            if (!r) break;
            const ExecStatusType status = PQresultStatus(r);
            if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && error.empty()) {
                error = FirstLine(PQresultErrorMessage(r));
                const char* state = PQresultErrorField(r, PG_DIAG_SQLSTATE);
                code = state ? state : "";
            }
            last.reset(r);
        }
        if (!ok()) {
            // A server shut down by its administrator says so before it closes the connection
            // (class 57: operator intervention); any other end is a connection lost.
            const std::string words = error.empty() ? FirstLine(PQerrorMessage(conn_)) : error;
            why = code == "57P01" || code == "57P03" ? "сервер остановлен администратором: " + words
                                                     : "соединение с сервером потеряно: " + words;
            return failed(none, true);
        }
        if (!error.empty() || !last) {
            why = error.empty() ? FirstLine(PQerrorMessage(conn_)) : error;
            lost = false;
            return none;
        }
        return last;
    }

private:
    explicit Session(PGconn* conn) : conn_(conn) {}

    // The connection failed: `why` is set already (a wait's end), or libpq's words say it.
    Result failed(Result& none, bool said = false) {
        if (!said) {
            const std::string words = FirstLine(PQerrorMessage(conn_));
            why = "соединение с сервером потеряно" + (words.empty() ? std::string() : ": " + words);
        }
        lost = true;
        return std::move(none);
    }

    // Waits until the connection can be read or written; false, with `why`, at the call's limit,
    // at its stop, or when the connection is broken.
    bool waitSocket(bool write, Call& call, bool connecting) {
        for (;;) {
            const auto now = std::chrono::steady_clock::now();
            if (call.wait.stopped && call.wait.stopped()) {
                why = "ожидание сервера прервано";
                return false;
            }
            if (now >= call.until) {
                const auto s = std::chrono::duration_cast<std::chrono::milliseconds>(call.until - call.start);
                why = "сервер не ответил за " + std::to_string((s.count() + 500) / 1000) + " с";
                return false;
            }
            if (!call.said && now - call.start >= LockWait::kSayAfter) {
                call.said = true;
                if (call.wait.unreachable)
                    call.wait.unreachable(connecting ? "учёт номеров недоступен: сервер не отвечает"
                                                     : "учёт номеров: сервер не отвечает, ожидание");
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(call.until - now);
            switch (WaitForSocket(PQsocket(conn_), write, std::min(kSlice, left))) {
            case SocketReady::Ready:
                return true;
            case SocketReady::Failed:
                why = "соединение с сервером потеряно";
                return false;
            case SocketReady::TimedOut:
                break;
            }
        }
    }

    PGconn* conn_;
};

std::unique_ptr<ServerLedger> ServerLedger::open(const Options& options, std::string& error) {
    if (!LibpqReady(error)) return nullptr;
    char* message = nullptr;
    PQconninfoOption* parsed = PQconninfoParse(options.address.c_str(), &message);
    if (!parsed) {
        error = AddressWithoutSecrets(options.address) + ": адрес сервера не читается: " + FirstLine(message);
        PQfreemem(message);
        return nullptr;
    }
    bool password = false;
    // libpq marks every parameter that holds a secret ("*": a password, a key's passphrase).
    for (const PQconninfoOption* o = parsed; o->keyword; ++o)
        password = password || (o->dispchar && o->dispchar[0] == '*' && o->val && *o->val);
    PQconninfoFree(parsed);
    if (password) {
        // An address is shown on screen, kept in settings and seen in the process list.
        error = "пароль в адресе сервера не принимается: его берут из ~/.pgpass или PGPASSWORD";
        return nullptr;
    }
    return std::unique_ptr<ServerLedger>(new ServerLedger(options));
}

ServerLedger::ServerLedger(Options options) : options_(std::move(options)) {}
ServerLedger::~ServerLedger() = default;

bool ServerLedger::connectLocked(Call& call, std::string& error) {
    if (session_ && session_->ok()) return true;
    session_.reset();
    std::string why;
    std::unique_ptr<Session> s = Session::Connect(options_.address, call, why);
    if (!s) {
        error = "учёт номеров недоступен: " + why;
        return false;
    }
    // The tables are made once, by whichever station comes first; the others wait for it.
    Result version(nullptr, ClearResult), changed(nullptr, ClearResult);
    if (s->exec(call, "BEGIN") && s->exec(call, kTablesLock)) {
        Result made = s->exec(call, "SELECT to_regclass('tk7v_schema') IS NOT NULL");
        if (made && std::string(PQgetvalue(made.get(), 0, 0)) == "f" && !s->exec(call, kTables)) made.reset();
        if (made) version = s->exec(call, "SELECT coalesce(max(version), 0) FROM tk7v_schema");
        // Tables of an earlier version are moved over by the first station of this one to come.
        if (version && std::atoi(PQgetvalue(version.get(), 0, 0)) == 1)
            version = s->exec(call, kTablesTo2) ? s->exec(call, "SELECT coalesce(max(version), 0) FROM tk7v_schema")
                                                : Result(nullptr, ClearResult);
        if (version) changed = s->exec(call, kTablesChanged);
        if (!changed || !s->exec(call, "COMMIT")) version.reset();
    }
    if (!version) {
        session_ = std::move(s);
        error = failedLocked();
        return false;
    }
    const int v = std::atoi(PQgetvalue(version.get(), 0, 0));
    if (v > kSchemaVersion) {
        error = "учёт номеров на сервере ведёт более новая версия программы (таблицы версии " +
                std::to_string(v) + ", эта знает " + std::to_string(kSchemaVersion) + "): обновите программу";
        return false;
    }
    if (const std::string missing = PQgetvalue(changed.get(), 0, 0); !missing.empty()) {
        error = "таблицы учёта номеров на сервере изменены, в них нет: " + missing +
                ". Учёт с ними не ведётся: восстановите их (или начните учёт в новой базе)";
        return false;
    }
    session_ = std::move(s);
    return true;
}

std::string ServerLedger::failedLocked() {
    const std::string error =
        (session_->lost ? "учёт номеров недоступен: " : "учёт номеров на сервере: ") + session_->why;
    // Dropping the connection ends its transaction on the server, whatever it had done.
    session_.reset();
    return error;
}

ServerLedger::Held::~Held() {
    if (!turn) return;
    {
        std::lock_guard lock(turn->mutex);
        turn->taken = false;
    }
    turn->free.notify_one();
}

bool ServerLedger::lockFor(Call& call, Held& held, std::string& error) {
    std::unique_lock lock(turn_.mutex);
    while (turn_.taken) {
        if (call.wait.stopped && call.wait.stopped()) {
            error = "учёт номеров: ожидание сервера прервано";
            return false;
        }
        if (std::chrono::steady_clock::now() >= call.until) {
            error = "учёт номеров недоступен: сервер не отвечает";
            return false;
        }
        turn_.free.wait_for(lock, kSlice);
    }
    turn_.taken = true;
    held.turn = &turn_;
    return true;
}

bool ServerLedger::ready(std::string& error, const LockWait& wait) {
    Call call(wait, options_.timeout);
    Held lock;
    if (!lockFor(call, lock, error)) return false;
    // A connection made earlier says nothing of the server now (gone, restarted, frozen): one
    // statement on it does. One found broken is made again, once.
    for (int attempt = 0;; ++attempt) {
        const bool made = session_ && session_->ok();
        if (!connectLocked(call, error)) return false;
        if (!made || session_->exec(call, "SELECT 1")) return true;
        const bool again = attempt == 0 && session_->lost && !(wait.stopped && wait.stopped()) &&
                           std::chrono::steady_clock::now() < call.until;
        error = failedLocked();
        if (!again) return false;
    }
}

// What has been given out, asked of the server in the claim's transaction: each question one
// indexed query. A question the server did not answer is marked, and the claim or look it was
// for fails.
class ServerLedger::Answers final : public GivenSoFar {
public:
    Answers(Session& session, Call& call, const std::string& list) : s_(session), call_(call), list_(list) {}
    mutable bool failed = false;

    std::optional<long long> highest(const std::string& field, long long first, long long last) const override {
        const Result r = ask("SELECT max(value) IS NULL, coalesce(max(value), 0) FROM tk7v_given "
                             "WHERE field = $1 AND list = '' AND value BETWEEN $2 AND $3",
                             {WholeUtf8(field), std::to_string(first), std::to_string(last)});
        if (!r || std::string(PQgetvalue(r.get(), 0, 0)) == "t") return std::nullopt;
        return std::strtoll(PQgetvalue(r.get(), 0, 1), nullptr, 10);
    }
    bool numberGiven(const std::string& field, long long value) const override {
        const Result r = ask("SELECT count(*) FROM tk7v_given WHERE field = $1 AND list = '' AND value = $2",
                             {WholeUtf8(field), std::to_string(value)});
        // Taken as given when unanswered: the look fails then anyway.
        return !r || std::string(PQgetvalue(r.get(), 0, 0)) != "0";
    }
    std::size_t firstFree(const std::vector<ListRow>& rows, std::size_t from) const override {
        // Rows are given in their order, so the first free one is near `from`: asked a few at a
        // time, more each time, a claim sends a few rows rather than the whole list.
        for (std::size_t count = 16; from < rows.size(); from += count, count *= 4) {
            const std::size_t to = std::min(rows.size(), from + count);
            std::string values = "{", places = "{";
            for (std::size_t i = from; i < to; ++i) {
                if (i > from) {
                    values += ',';
                    places += ',';
                }
                values += '"';
                values += ArrayItem(WholeUtf8(rows[i].values));
                values += '"';
                places += std::to_string(rows[i].row);
            }
            const Result r = ask(
                "SELECT coalesce(min(k.o), 0) FROM unnest($1::text[], $2::int[]) WITH ORDINALITY AS k(v, r, o) "
                "WHERE NOT EXISTS (SELECT 1 FROM tk7v_given_rows g WHERE g.row_values = k.v) "
                "AND NOT EXISTS (SELECT 1 FROM tk7v_given g WHERE g.field = '' AND g.list = $3 AND g.value = k.r)",
                {values + "}", places + "}", WholeUtf8(list_)});
            if (!r) return rows.size();
            if (const long long at = std::strtoll(PQgetvalue(r.get(), 0, 0), nullptr, 10); at > 0)
                return from + std::size_t(at - 1);
        }
        return rows.size();
    }

private:
    // An element of an array literal: quotes and backslashes escaped.
    static std::string ArrayItem(const std::string& text) {
        std::string out;
        for (const char c : text) {
            if (c == '"' || c == '\\') out += '\\';
            out += c;
        }
        return out;
    }
    Result ask(const char* sql, const std::vector<Param>& params) const {
        if (failed) return Result(nullptr, ClearResult);
        Result r = s_.exec(call_, sql, params);
        failed = !r;
        return r;
    }
    Session& s_;
    Call& call_;
    const std::string& list_;
};

namespace {

// Stores `r` as a record of the ledger's tables; its id, or nothing with the session's `why`.
std::optional<std::string> Store(ServerLedger::Session& s, ServerLedger::Call& call, const ReportRecord& r,
                                 const std::string& station, const std::string& list) {
    const Result id =
        s.exec(call,
               "INSERT INTO tk7v_records (station, port, identification, command, file, sha256, "
               "started, ended, result, message, differing, list, list_row, numbers, row_values) VALUES "
               "($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, $15) RETURNING id",
               {WholeUtf8(station), WholeUtf8(r.port), WholeUtf8(r.identification), r.command,
                WholeUtf8(r.file), r.sha256, Report::isoTime(r.start), Report::isoTime(r.end), r.result,
                WholeUtf8(r.message), SpaceJoined(r.differing), r.given.row > 0 ? WholeUtf8(list) : "",
                r.given.row > 0 ? Param(std::to_string(r.given.row)) : std::nullopt,
                WholeUtf8(SpaceJoined(r.given.numbers)), r.given.row > 0 ? WholeUtf8(r.given.rowValues) : ""});
    if (!id) return std::nullopt;
    return std::string(PQgetvalue(id.get(), 0, 0));
}

} // namespace

bool ServerLedger::storeKeptLocked(Call& call, std::size_t& stored) {
    std::vector<ReportRecord> kept;
    {
        std::lock_guard k(keptMutex_);
        kept = kept_;
    }
    for (const ReportRecord& r : kept)
        if (!Store(*session_, call, r, options_.station, options_.list)) return false;
    stored = kept.size();
    return true;
}

void ServerLedger::forgetStored(std::size_t stored) {
    std::lock_guard k(keptMutex_);
    kept_.erase(kept_.begin(), kept_.begin() + static_cast<std::ptrdiff_t>(std::min(stored, kept_.size())));
    keptCount_ = kept_.size();
}

bool ServerLedger::claim(const Choose& choose, std::string& error, const LockWait& wait) {
    Call call(wait, options_.timeout);
    Held lock;
    if (!lockFor(call, lock, error)) return false;
    // A connection found broken before anything was committed (a server restarted since the last
    // claim) is made again once, and the claim begins again on it.
    for (int attempt = 0;; ++attempt) {
        if (!connectLocked(call, error)) return false;
        Session& s = *session_;
        bool committing = false;
        std::size_t stored = 0;
        const bool done = [&] {
            if (!s.exec(call, "BEGIN") || !s.exec(call, kClaimLock)) return false;
            // The records kept go first, so the tables hold what happened in its order.
            if (!storeKeptLocked(call, stored)) return false;
            const Answers soFar(s, call, options_.list);
            const std::optional<ReportRecord> record = choose(soFar);
            if (soFar.failed) return false;
            if (record) {
                const std::optional<std::string> id =
                    Store(s, call, *record, options_.station, options_.list);
                if (!id) return false;
                const auto give = [&](const std::string& field, const std::string& list, long long value) {
                    return bool(s.exec(
                        call, "INSERT INTO tk7v_given (field, list, value, record) VALUES ($1, $2, $3, $4)",
                        {WholeUtf8(field), WholeUtf8(list), std::to_string(value), *id}));
                };
                // A row known by its place alone (as earlier versions knew it) stays under its
                // list's name; one known by its values is given once in every list.
                if (record->given.row > 0 && record->given.rowValues.empty() &&
                    !give({}, options_.list, record->given.row))
                    return false;
                if (record->given.row > 0 && !record->given.rowValues.empty() &&
                    !s.exec(call,
                            "INSERT INTO tk7v_given_rows (row_values, list, list_row, record) "
                            "VALUES ($1, $2, $3, $4)",
                            {WholeUtf8(record->given.rowValues), WholeUtf8(options_.list),
                             std::to_string(record->given.row), *id}))
                    return false;
                for (const std::string& n : record->given.numbers) {
                    const std::size_t eq = n.find('=');
                    if (!give(n.substr(0, eq), {}, std::strtoll(n.c_str() + eq + 1, nullptr, 10)))
                        return false;
                }
            }
            committing = true;
            return bool(s.exec(call, "COMMIT"));
        }();
        if (done) {
            forgetStored(stored);
            return true;
        }
        const bool again = attempt == 0 && s.lost && !committing && !(wait.stopped && wait.stopped()) &&
                           std::chrono::steady_clock::now() < call.until;
        error = failedLocked();
        if (!again) return false;
    }
}

bool ServerLedger::look(const Ask& ask, std::string& error, const LockWait& wait) {
    Call call(wait, options_.timeout);
    Held lock;
    if (!lockFor(call, lock, error)) return false;
    if (!connectLocked(call, error)) return false;
    const Answers soFar(*session_, call, options_.list);
    ask(soFar);
    if (!soFar.failed) return true;
    error = failedLocked();
    return false;
}

bool ServerLedger::readRows(const std::string& query, int columns, const std::function<void(const RowCells&)>& each,
                            std::string& error, const LockWait& wait) {
    Call call(wait, options_.timeout);
    Held lock;
    if (!lockFor(call, lock, error)) return false;
    if (!connectLocked(call, error)) return false;
    // Through a cursor, a few thousand rows at a time: what this program holds stays the same
    // however many the server keeps. Each fetch has the limit of one call.
    bool read = session_->exec(call, "BEGIN") &&
                session_->exec(call, ("DECLARE tk7v_rows NO SCROLL CURSOR FOR " + query).c_str());
    std::vector<std::string> cells;
    while (read) {
        Call batch(wait, options_.timeout);
        const Result rows = session_->exec(batch, "FETCH 5000 FROM tk7v_rows");
        if (!rows) {
            read = false;
            break;
        }
        if (PQntuples(rows.get()) == 0) break;
        for (int i = 0; i < PQntuples(rows.get()); ++i) {
            cells.clear();
            for (int c = 0; c < columns; ++c)
                cells.emplace_back(PQgetvalue(rows.get(), i, c));
            each(cells);
        }
    }
    if (read && session_->exec(call, "COMMIT")) return true;
    error = failedLocked();
    return false;
}

namespace {

// A time the server gave as seconds since 1970, as records keep it.
std::string TimeOf(const std::string& seconds) {
    return Report::isoTime(std::chrono::system_clock::from_time_t(std::strtoll(seconds.c_str(), nullptr, 10)));
}

// A record's device as a query gives it from column `from` on: its port, station,
// identification, and when it began (seconds since 1970).
LedgerEntry DeviceIn(const std::vector<std::string>& cell, std::size_t from) {
    LedgerEntry e;
    e.port = cell[from];
    e.station = cell[from + 1];
    e.identification = cell[from + 2];
    e.when = TimeOf(cell[from + 3]);
    return e;
}

// A record's numbers, "FIELD=VALUE" one space apart, as a list.
std::vector<std::string> NumbersIn(const std::string& numbers) {
    std::vector<std::string> out;
    for (std::size_t from = 0; from < numbers.size();) {
        const std::size_t to = std::min(numbers.find(' ', from), numbers.size());
        if (to > from) out.push_back(numbers.substr(from, to - from));
        from = to + 1;
    }
    return out;
}

} // namespace

bool ServerLedger::entries(const EachEntry& each, std::string& error, const LockWait& wait) {
    return readRows(
        "SELECT port, station, identification, extract(epoch FROM started)::bigint, result, list, "
        "coalesce(list_row, 0), numbers, row_values, sha256 FROM tk7v_records "
        "WHERE list_row IS NOT NULL OR numbers <> '' ORDER BY id",
        10, [&](const RowCells& cell) {
            LedgerEntry e = DeviceIn(cell, 0);
            e.result = cell[4];
            e.list = cell[5];
            e.sha256 = cell[9];
            e.given.row = std::atoi(cell[6].c_str());
            if (e.given.row > 0) e.given.rowValues = cell[8];
            e.given.numbers = NumbersIn(cell[7]);
            each(std::move(e));
        },
        error, wait);
}

bool ServerLedger::givenValues(const std::function<void(const GivenValue&)>& each, std::string& error) {
    // One row a value, in the order given, each with the device's last word: the latest record
    // of the same station, port and values (its write's end, a retry) after the claim's.
    return readRows(
        "SELECT g.field, g.list, g.value, c.port, c.station, c.identification, "
        "extract(epoch FROM c.started)::bigint, coalesce(l.result, c.result) "
        "FROM (SELECT field, list, value, record FROM tk7v_given "
        "      UNION ALL SELECT '', row_values, list_row, record FROM tk7v_given_rows) AS g "
        "JOIN tk7v_records c ON c.id = g.record "
        "LEFT JOIN LATERAL (SELECT r.result FROM tk7v_records r WHERE r.numbers = c.numbers AND r.id > c.id "
        "  AND r.station = c.station AND r.port = c.port AND r.row_values = c.row_values "
        "  ORDER BY r.id DESC LIMIT 1) AS l ON true "
        "ORDER BY g.record, g.field, g.value",
        8, [&](const RowCells& cell) {
            GivenValue v;
            v.field = cell[0];
            v.list = cell[1];
            v.value = std::strtoll(cell[2].c_str(), nullptr, 10);
            v.claim = DeviceIn(cell, 3);
            v.claim.result = "claimed";
            v.claim.list = v.list;
            v.result = cell[7];
            each(v);
        },
        error, {});
}

namespace {

// A time as records keep it (2026-12-07T14:16:31+03:00), or none for anything the server would
// refuse: one spoilt time in a file moved over must not stop the rest.
Param IsoTimeOrNone(const std::string& t) {
    const auto digits = [&](std::size_t at, std::size_t n, int low, int high) {
        if (t.size() < at + n) return false;
        int v = 0;
        for (std::size_t i = at; i < at + n; ++i) {
            if (t[i] < '0' || t[i] > '9') return false;
            v = v * 10 + (t[i] - '0');
        }
        return v >= low && v <= high;
    };
    const bool time = t.size() >= 19 && digits(0, 4, 1, 9999) && t[4] == '-' && digits(5, 2, 1, 12) && t[7] == '-' &&
                      digits(8, 2, 1, 31) && t[10] == 'T' && digits(11, 2, 0, 23) && t[13] == ':' &&
                      digits(14, 2, 0, 59) && t[16] == ':' && digits(17, 2, 0, 59);
    const bool zone = t.size() == 19 || (t.size() == 20 && t[19] == 'Z') ||
                      (t.size() == 25 && (t[19] == '+' || t[19] == '-') && digits(20, 2, 0, 23) && t[22] == ':' &&
                       digits(23, 2, 0, 59));
    return time && zone ? Param(t) : std::nullopt;
}

} // namespace

bool ServerLedger::importEntries(const std::vector<LedgerEntry>& entries, const std::string& from,
                                 const std::string& legacyList, ImportCount& count, std::string& error) {
    LockWait wait;
    Call call(wait, options_.timeout);
    Held lock;
    if (!lockFor(call, lock, error) || !connectLocked(call, error)) return false;
    Session& s = *session_;
    ImportCount added;
    // Under the claims' lock, in one transaction: stations claiming meanwhile see all of it or none.
    bool done = s.exec(call, "BEGIN") && s.exec(call, kClaimLock);
    for (const LedgerEntry& e : entries) {
        if (!done) break;
        const std::string list = e.given.rowValues.empty() ? legacyList : e.list;
        const Result id = s.exec(
            call,
            "INSERT INTO tk7v_records (station, port, identification, command, file, sha256, started, ended, "
            "result, message, differing, list, list_row, numbers, row_values) VALUES ($1, $2, $3, 'import', $4, '', "
            "coalesce($5, now()), coalesce($5, now()), $6, $7, '', $8, $9, $10, $11) RETURNING id",
            {WholeUtf8(e.station.empty() ? options_.station : e.station), WholeUtf8(e.port),
             WholeUtf8(e.identification), WholeUtf8(from), IsoTimeOrNone(e.when),
             WholeUtf8(e.result), "перенесено из " + WholeUtf8(from), e.given.row > 0 ? WholeUtf8(list) : "",
             e.given.row > 0 ? Param(std::to_string(e.given.row)) : std::nullopt,
             WholeUtf8(SpaceJoined(e.given.numbers)), e.given.row > 0 ? WholeUtf8(e.given.rowValues) : ""});
        done = bool(id);
        if (!done) break;
        ++added.records;
        // A value given already (the same device's later record, an import run twice) stays the
        // first record's.
        const auto give = [&](const char* sql, const std::vector<Param>& params) {
            const Result r = s.exec(call, sql, params);
            if (!r) return false;
            (std::string(PQcmdTuples(r.get())) == "1" ? added.values : added.already) += 1;
            return true;
        };
        if (e.given.row > 0 && !e.given.rowValues.empty())
            done = give("INSERT INTO tk7v_given_rows (row_values, list, list_row, record) VALUES ($1, $2, $3, $4) "
                        "ON CONFLICT DO NOTHING",
                        {WholeUtf8(e.given.rowValues), WholeUtf8(e.list), std::to_string(e.given.row),
                         PQgetvalue(id.get(), 0, 0)});
        else if (e.given.row > 0)
            done = give("INSERT INTO tk7v_given (field, list, value, record) VALUES ('', $1, $2, $3) "
                        "ON CONFLICT DO NOTHING",
                        {WholeUtf8(list), std::to_string(e.given.row), PQgetvalue(id.get(), 0, 0)});
        std::string field;
        long long value = 0;
        for (const std::string& n : e.given.numbers)
            if (done && SplitGiven(n, field, value))
                done = give("INSERT INTO tk7v_given (field, list, value, record) VALUES ($1, '', $2, $3) "
                            "ON CONFLICT DO NOTHING",
                            {field, std::to_string(value), PQgetvalue(id.get(), 0, 0)});
    }
    if (done && s.exec(call, "COMMIT")) {
        count.records += added.records;
        count.values += added.values;
        count.already += added.already;
        return true;
    }
    error = failedLocked();
    return false;
}

std::string ServerLedger::record(const ReportRecord& record, const LockWait& wait) {
    {
        std::lock_guard k(keptMutex_);
        kept_.push_back(record);
        keptCount_ = kept_.size();
    }
    return flushRecords(wait);
}

std::string ServerLedger::flushRecords(const LockWait& wait) {
    if (keptCount_ == 0) return {};
    Call call(wait, options_.timeout);
    std::string error;
    Held lock;
    if (!lockFor(call, lock, error) || !connectLocked(call, error)) return error;
    Session& s = *session_;
    std::size_t stored = 0;
    if (s.exec(call, "BEGIN") && storeKeptLocked(call, stored) && s.exec(call, "COMMIT")) {
        forgetStored(stored);
        return {};
    }
    return failedLocked();
}

std::vector<ReportRecord> ServerLedger::keptRecords() const {
    std::lock_guard k(keptMutex_);
    return kept_;
}

void ServerLedger::keepRecords(const std::vector<ReportRecord>& records) {
    std::lock_guard k(keptMutex_);
    kept_.insert(kept_.begin(), records.begin(), records.end());
    keptCount_ = kept_.size();
}

#else // a build without the client library: every file ledger, and a word on a server's

class ServerLedger::Session {};

std::unique_ptr<ServerLedger> ServerLedger::open(const Options& options, std::string& error) {
    error = options.address + ": эта сборка программы не ведёт учёт номеров на сервере";
    return nullptr;
}
ServerLedger::ServerLedger(Options options) : options_(std::move(options)) {}
ServerLedger::~ServerLedger() = default;
bool ServerLedger::ready(std::string&, const LockWait&) {
    return false;
}
bool ServerLedger::claim(const Choose&, std::string&, const LockWait&) {
    return false;
}
bool ServerLedger::look(const Ask&, std::string&, const LockWait&) {
    return false;
}
bool ServerLedger::givenValues(const std::function<void(const GivenValue&)>&, std::string&) {
    return false;
}
bool ServerLedger::importEntries(const std::vector<LedgerEntry>&, const std::string&, const std::string&,
                                 ImportCount&, std::string&) {
    return false;
}
bool ServerLedger::entries(const EachEntry&, std::string&, const LockWait&) {
    return false;
}
std::string ServerLedger::record(const ReportRecord&, const LockWait&) {
    return {};
}
std::string ServerLedger::flushRecords(const LockWait&) {
    return {};
}
std::vector<ReportRecord> ServerLedger::keptRecords() const {
    return {};
}
void ServerLedger::keepRecords(const std::vector<ReportRecord>&) {}

#endif

} // namespace tk7v::station
