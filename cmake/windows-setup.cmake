# Windows: what the setup (CPack's NSIS generator, cmake/nsis/NSIS.template.in) and the zip
# (cmake --install into a folder) hold: the window, the station and the command line, and the
# guide with its pictures beside them, where F1 finds it; under licenses/, the licence of a
# library linked into them that asks for it. Included from packaging.cmake.
install(TARGETS tk7v tk7v-station tk7v-cli RUNTIME DESTINATION .)
install(FILES ${TK7V_GUIDE_HTML} DESTINATION .)
install(DIRECTORY docs/images DESTINATION .)
# libpq, with OpenSSL in it, is linked into the programs; both licences ask that their notice go
# with every copy.
include(${CMAKE_CURRENT_LIST_DIR}/libpq.cmake)
if(TK7V_HAVE_LIBPQ)
  foreach(licence COPYRIGHT OpenSSL-LICENSE.txt)
    if(NOT EXISTS ${TK7V_LIBPQ_WINDOWS}/${licence})
      message(FATAL_ERROR "a licence of libpq's not found (${TK7V_LIBPQ_WINDOWS}/${licence}): run scripts/build-libpq-windows")
    endif()
  endforeach()
  install(FILES ${TK7V_LIBPQ_WINDOWS}/COPYRIGHT DESTINATION licenses RENAME PostgreSQL.txt)
  install(FILES ${TK7V_LIBPQ_WINDOWS}/OpenSSL-LICENSE.txt DESTINATION licenses RENAME OpenSSL.txt)
endif()

set(CPACK_GENERATOR NSIS)
set(CPACK_PACKAGE_FILE_NAME "tk7v-setup-${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Разработчики конфигуратора ТК-7В")
set(CPACK_NSIS_DISPLAY_NAME "Конфигуратор ТК-7В")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Конфигуратор ТК-7В")
# One key for every version, so that a newer one installs over the older in place.
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY tk7v)
set(CPACK_NSIS_MUI_ICON ${CMAKE_SOURCE_DIR}/resources/tk7v.ico)
set(CPACK_NSIS_URL_INFO_ABOUT "${TK7V_HOMEPAGE}")
# The template is UTF-8 (it starts with a byte order mark); said again for makensis.
set(CPACK_NSIS_EXECUTABLE_PRE_ARGUMENTS "-INPUTCHARSET;UTF8")
list(APPEND CMAKE_MODULE_PATH ${CMAKE_SOURCE_DIR}/cmake/nsis)
include(CPack)
