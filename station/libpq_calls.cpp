#include "libpq_calls.h"

#ifdef TK7V_LIBPQ_LOADED
#include "link/shared_library.h"
#endif

#include <memory>
#include <mutex>

namespace tk7v::station {

namespace {

libpq::Calls gCalls;
std::string gError; // why libpq cannot be called; set once, with gCalls

void Fill() {
#ifdef TK7V_LIBPQ_LOADED
    static std::unique_ptr<SharedLibrary> library = SharedLibrary::Load("libpq.so.5", gError);
    if (!library) {
        gError = "библиотека libpq не загружается (установите пакет libpq5): " + gError;
        return;
    }
#define TK7V_LIBPQ_CALL(name)                                                                                \
    gCalls.name = reinterpret_cast<decltype(gCalls.name)>(library->symbol(#name));                           \
    if (!gCalls.name) {                                                                                      \
        gError = "в библиотеке libpq нет функции " #name ": нужна версия 14 или новее";                      \
        return;                                                                                              \
    }
#else
#define TK7V_LIBPQ_CALL(name) gCalls.name = &::name;
#endif
#include "libpq_call_list.h"
#undef TK7V_LIBPQ_CALL
}

} // namespace

bool LibpqReady(std::string& error) {
    static std::once_flag once;
    std::call_once(once, Fill);
    error = gError;
    return gError.empty();
}

const libpq::Calls& libpq::Loaded() {
    return gCalls;
}

} // namespace tk7v::station
