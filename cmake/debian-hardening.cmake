# Debian's hardening for the programs the Debian package ships (stack protector, fortified
# functions, format checks, read-only relocations bound at start-up), taken from dpkg-buildflags
# as a package build takes them, so that lintian finds what it looks for in every program.
# The build type keeps its own optimisation and debug flags; paths stay whole (no
# -ffile-prefix-map), so a failing test still names its file.
#
# Left out where it does not fit: the sanitizer and fuzzer builds, and every Debug build
# (_FORTIFY_SOURCE needs optimisation and warns at -O0, which -Werror turns into a failure);
# the Windows cross build (Debian's flags are for Debian's programs).
option(TK7V_DEBIAN_HARDENING "Build with dpkg-buildflags' hardening flags (not in Debug)" ON)
if(NOT TK7V_DEBIAN_HARDENING OR CMAKE_CROSSCOMPILING OR WIN32 OR TK7V_SANITIZE OR TK7V_FUZZ)
  return()
endif()
find_program(TK7V_DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT TK7V_DPKG_BUILDFLAGS)
  return()
endif()

function(tk7v_debian_flags variable out)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env "DEB_BUILD_MAINT_OPTIONS=hardening=+all reproducible=-all"
            "DEB_CXXFLAGS_MAINT_STRIP=-g -O2" ${TK7V_DPKG_BUILDFLAGS} --get ${variable}
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "dpkg-buildflags --get ${variable} failed")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  set(${out} ${flags} PARENT_SCOPE)
endfunction()

tk7v_debian_flags(CPPFLAGS cppflags)
tk7v_debian_flags(CXXFLAGS cxxflags)
tk7v_debian_flags(LDFLAGS ldflags)
message(STATUS "Debian hardening outside Debug: ${cppflags} ${cxxflags} ${ldflags}")
set(optimised "$<NOT:$<CONFIG:Debug>>")
add_compile_options("$<${optimised}:${cppflags};${cxxflags}>")
add_link_options("$<${optimised}:${ldflags}>")
