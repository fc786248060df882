# Fails when an include crosses a layer the wrong way: model/ includes nothing of ours but
# model/ and no Qt; link/ no Qt, ui/ or app/; ui/ and link's neutral headers no OS header (what
# differs per OS lives in link/*_posix.* and link/*_win32.*). station/ runs on link/ with no Qt and
# no OS header, and nothing below it includes it. The simulator's device model includes nothing of
# ours.
set(os_headers "<unistd\\.h>|<sys/|<termios\\.h>|<poll\\.h>|<fcntl\\.h>|<windows\\.h>|<cerrno>|<errno\\.h>|<iconv\\.h>|<linux/")
set(failures "")

function(check pattern forbidden why)
  file(GLOB_RECURSE files ${pattern})
  foreach(f ${files})
    if(f MATCHES "_(posix|win32)\\.(h|cpp)$" AND why STREQUAL "an OS header")
      continue()
    endif()
    file(STRINGS ${f} lines REGEX "^#include")
    foreach(line ${lines})
      if(line MATCHES "${forbidden}")
        set(failures "${failures}\n  ${f}: ${line} (${why})" PARENT_SCOPE)
      endif()
    endforeach()
  endforeach()
endfunction()

check("${SOURCE}/model/*.[ch]*" "<Q|\"(link|station|ui|app|tools)/" "model depends on nothing of ours")
check("${SOURCE}/link/*.[ch]*" "<Q|\"(ui|app|tools)/" "link uses no Qt and no upper layer")
check("${SOURCE}/link/*.h" "${os_headers}" "an OS header")
check("${SOURCE}/ui/*.[ch]*" "${os_headers}|\"app/" "an OS header")
check("${SOURCE}/station/*.[ch]*" "<Q|\"(ui|app|tools)/" "station uses no Qt and no front end")
check("${SOURCE}/station/*.[ch]*" "${os_headers}" "an OS header")
check("${SOURCE}/link/*.[ch]*" "\"station/" "link knows no station")
check("${SOURCE}/tools/cli/*.[ch]*" "<Q|\"(ui|app)/" "the command line uses no Qt and no window")
check("${SOURCE}/tools/sim/*.[ch]*" "<Q|\"(model|link|station|ui|app)/" "the device model is its own code, so that it checks link/")
check("${SOURCE}/tools/station/*.[ch]*" "\"(ui|tools/cli)/|${os_headers}" "the station window runs on the station, not on the other window")

if(failures)
  message(FATAL_ERROR "Includes against the layering:${failures}")
endif()
