#pragma once
// The calls of libpq the server ledger makes, under their own names, so that its code reads as
// libpq's. Where libpq is a shared library of the system it is loaded on the first use of a
// server (LibpqReady): a program that never reaches a server does not load it, and the thirty
// libraries it depends on, at every start. Where it is linked into the program (Windows), the
// calls go straight to it.
#include <libpq-fe.h>

#include <string>

namespace tk7v::station {

// Any thread. Whether libpq can be called; `error` says why not. Call it before any other.
bool LibpqReady(std::string& error);

namespace libpq {
// libpq's functions as loaded; filled once, by the first LibpqReady.
struct Calls {
#define TK7V_LIBPQ_CALL(name) decltype(&::name) name = nullptr;
#include "libpq_call_list.h"
#undef TK7V_LIBPQ_CALL
};
const Calls& Loaded();
} // namespace libpq

} // namespace tk7v::station

// Each call of the list, written as libpq's, goes to the loaded function. A macro, since the
// system header declares the functions themselves, and a call would find them by their
// arguments' types whatever this namespace declared.
#ifdef TK7V_LIBPQ_LOADED
#define PQclear(...) ::tk7v::station::libpq::Loaded().PQclear(__VA_ARGS__)
#define PQcmdTuples(...) ::tk7v::station::libpq::Loaded().PQcmdTuples(__VA_ARGS__)
#define PQconnectPoll(...) ::tk7v::station::libpq::Loaded().PQconnectPoll(__VA_ARGS__)
#define PQconnectionNeedsPassword(...) ::tk7v::station::libpq::Loaded().PQconnectionNeedsPassword(__VA_ARGS__)
#define PQconnectionUsedPassword(...) ::tk7v::station::libpq::Loaded().PQconnectionUsedPassword(__VA_ARGS__)
#define PQconnectStartParams(...) ::tk7v::station::libpq::Loaded().PQconnectStartParams(__VA_ARGS__)
#define PQconninfoFree(...) ::tk7v::station::libpq::Loaded().PQconninfoFree(__VA_ARGS__)
#define PQconninfoParse(...) ::tk7v::station::libpq::Loaded().PQconninfoParse(__VA_ARGS__)
#define PQconsumeInput(...) ::tk7v::station::libpq::Loaded().PQconsumeInput(__VA_ARGS__)
#define PQerrorMessage(...) ::tk7v::station::libpq::Loaded().PQerrorMessage(__VA_ARGS__)
#define PQfinish(...) ::tk7v::station::libpq::Loaded().PQfinish(__VA_ARGS__)
#define PQflush(...) ::tk7v::station::libpq::Loaded().PQflush(__VA_ARGS__)
#define PQfreemem(...) ::tk7v::station::libpq::Loaded().PQfreemem(__VA_ARGS__)
#define PQgetResult(...) ::tk7v::station::libpq::Loaded().PQgetResult(__VA_ARGS__)
#define PQgetvalue(...) ::tk7v::station::libpq::Loaded().PQgetvalue(__VA_ARGS__)
#define PQisBusy(...) ::tk7v::station::libpq::Loaded().PQisBusy(__VA_ARGS__)
#define PQntuples(...) ::tk7v::station::libpq::Loaded().PQntuples(__VA_ARGS__)
#define PQresultErrorField(...) ::tk7v::station::libpq::Loaded().PQresultErrorField(__VA_ARGS__)
#define PQresultErrorMessage(...) ::tk7v::station::libpq::Loaded().PQresultErrorMessage(__VA_ARGS__)
#define PQresultStatus(...) ::tk7v::station::libpq::Loaded().PQresultStatus(__VA_ARGS__)
#define PQsendQuery(...) ::tk7v::station::libpq::Loaded().PQsendQuery(__VA_ARGS__)
#define PQsendQueryParams(...) ::tk7v::station::libpq::Loaded().PQsendQueryParams(__VA_ARGS__)
#define PQsetNoticeProcessor(...) ::tk7v::station::libpq::Loaded().PQsetNoticeProcessor(__VA_ARGS__)
#define PQsetnonblocking(...) ::tk7v::station::libpq::Loaded().PQsetnonblocking(__VA_ARGS__)
#define PQsocket(...) ::tk7v::station::libpq::Loaded().PQsocket(__VA_ARGS__)
#define PQstatus(...) ::tk7v::station::libpq::Loaded().PQstatus(__VA_ARGS__)
#endif
