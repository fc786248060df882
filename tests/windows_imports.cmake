# The Windows programs load no DLL but Windows's own: the setup and the zip ship none beside them,
# so a program that needs libpq.dll, a mingw runtime DLL (a link without -static) or Qt's would
# not start on a machine that lacks it.
#   cmake -DOBJDUMP=x86_64-w64-mingw32-objdump -P windows_imports.cmake PROGRAM.exe...
cmake_minimum_required(VERSION 3.25)
set(windows
  advapi32 authz bcrypt comdlg32 crypt32 d3d11 d3d9 dwmapi dxgi gdi32 imm32 iphlpapi kernel32
  msvcrt netapi32 ole32 oleaut32 secur32 shcore shell32 shlwapi user32 userenv uxtheme version
  winhttp winmm ws2_32 wtsapi32)
set(foreign "")
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(i RANGE ${last})
  if(NOT CMAKE_ARGV${i} MATCHES "\\.exe$")
    continue()
  endif()
  set(program ${CMAKE_ARGV${i}})
  execute_process(COMMAND ${OBJDUMP} -p ${program} OUTPUT_VARIABLE headers RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${OBJDUMP} could not read ${program}")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\n]+" names "${headers}")
  if(NOT names)
    message(FATAL_ERROR "${program} imports no DLL at all: not a program objdump understands")
  endif()
  foreach(name ${names})
    string(REGEX REPLACE "^DLL Name: (.+)\\.[dD][lL][lL]$" "\\1" dll "${name}")
    string(TOLOWER "${dll}" dll)
    # api-ms-win-*: Windows's API sets, resolved by the loader to its own DLLs.
    if(NOT dll IN_LIST windows AND NOT dll MATCHES "^api-ms-win-")
      get_filename_component(file ${program} NAME)
      list(APPEND foreign "${file}: ${dll}.dll")
    endif()
  endforeach()
endforeach()
if(foreign)
  list(JOIN foreign "\n  " foreign)
  message(FATAL_ERROR "DLLs that Windows does not have and the setup does not ship:\n  ${foreign}")
endif()
