# libpq, the PostgreSQL client library, for a ledger kept on a database server, as the target
# tk7v_libpq: Debian's package on Linux; for the Windows cross build, the library cross-built into
# a cache (TK7V_LIBPQ_WINDOWS). A build without it still runs every file ledger, and says so when
# given a server's address.
# Included from every folder that asks; the target is global, the variable is not.
if(TARGET tk7v_libpq)
  set(TK7V_HAVE_LIBPQ ON)
  return()
endif()
set(TK7V_HAVE_LIBPQ OFF)
if(CMAKE_CROSSCOMPILING)
  set(TK7V_LIBPQ_WINDOWS "$ENV{TK7V_LIBPQ_WINDOWS}" CACHE PATH "libpq cross-built for Windows (include/, lib/, COPYRIGHT)")
  if(TK7V_LIBPQ_WINDOWS AND EXISTS ${TK7V_LIBPQ_WINDOWS}/include/libpq-fe.h)
    add_library(tk7v_libpq INTERFACE)
    target_include_directories(tk7v_libpq INTERFACE ${TK7V_LIBPQ_WINDOWS}/include)
    # scripts/build-libpq-windows makes one static library of libpq and what it takes from
    # libpgcommon, libpgport and OpenSSL. What it calls of Windows: sockets; SSPI for the
    # server's Windows authentication; the user's application data folder, where pgpass.conf and
    # root.crt are; random bytes, the user's name and the event log; for OpenSSL's fatal error, a
    # message box.
    target_link_libraries(tk7v_libpq INTERFACE ${TK7V_LIBPQ_WINDOWS}/lib/libpq.a ws2_32 secur32 shell32 advapi32 user32)
    set(TK7V_HAVE_LIBPQ ON)
  endif()
else()
  find_package(PostgreSQL QUIET)
  if(PostgreSQL_FOUND)
    add_library(tk7v_libpq INTERFACE)
    target_link_libraries(tk7v_libpq INTERFACE PostgreSQL::PostgreSQL)
    set(TK7V_HAVE_LIBPQ ON)
  endif()
endif()
