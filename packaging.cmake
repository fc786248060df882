# What the packages install and how CPack builds them: on Windows a setup (make windows), elsewhere
# the Debian package (make package).
include(GNUInstallDirs)

# Where the program is published and who answers for the package are the publisher's to say;
# what is not given is left out of the packages rather than filled with a made-up address.
set(TK7V_HOMEPAGE "" CACHE STRING "Home page of the program (packages, metainfo, copyright); empty: none")
set(TK7V_MAINTAINER "" CACHE STRING "The Debian package's maintainer, \"Name <address>\"; empty: DEBFULLNAME and DEBEMAIL")
set(TK7V_SCREENSHOT_URL "" CACHE STRING "Address of the window's picture for software centres; empty: none")

set(CPACK_PACKAGE_NAME tk7v)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configurator of the TK-7V alarm dialer")

if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/cmake/windows-setup.cmake)
  return()
endif()

# Who builds the package answers for it, found as dch finds the author of a changelog entry:
# DEBFULLNAME and DEBEMAIL (or NAME and EMAIL), else the user's name from the system and an
# address made of the user and the machine's name.
if(NOT TK7V_MAINTAINER)
  set(mail "$ENV{DEBEMAIL}")
  if(mail STREQUAL "")
    set(mail "$ENV{EMAIL}")
  endif()
  set(name "$ENV{DEBFULLNAME}")
  if(name STREQUAL "")
    set(name "$ENV{NAME}")
  endif()
  if(mail MATCHES "^(.+) <(.+)>$")
    if(name STREQUAL "")
      set(name "${CMAKE_MATCH_1}")
    endif()
    set(mail "${CMAKE_MATCH_2}")
  endif()
  execute_process(COMMAND id -un OUTPUT_VARIABLE user OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(mail STREQUAL "")
    set(host "")
    if(EXISTS /etc/mailname)
      file(STRINGS /etc/mailname host LIMIT_COUNT 1)
    endif()
    if(host STREQUAL "")
      cmake_host_system_information(RESULT host QUERY FQDN)
    endif()
    set(mail "${user}@${host}")
  endif()
  if(name STREQUAL "")
    execute_process(COMMAND getent passwd "${user}" OUTPUT_VARIABLE entry OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    string(REPLACE ":" ";" entry "${entry}")
    list(LENGTH entry fields)
    if(fields GREATER 4)
      list(GET entry 4 gecos)
      string(REGEX REPLACE ",.*" "" name "${gecos}")
    endif()
    if(name STREQUAL "")
      set(name "${user}")
    endif()
  endif()
  set(TK7V_MAINTAINER "${name} <${mail}>")
endif()

install(TARGETS tk7v tk7v-station tk7v-cli tk7v-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The window and the station each have a menu entry; the station's opens a .cfg handed to it.
install(FILES resources/desktop/org.tk7v.Configurator.desktop resources/desktop/org.tk7v.Station.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
set(TK7V_METAINFO_LINKS "")
if(TK7V_SCREENSHOT_URL)
  string(APPEND TK7V_METAINFO_LINKS "  <screenshots>
    <screenshot type=\"default\">
      <caption>Главное окно</caption>
      <image>${TK7V_SCREENSHOT_URL}</image>
    </screenshot>
  </screenshots>
")
endif()
if(TK7V_HOMEPAGE)
  string(APPEND TK7V_METAINFO_LINKS "  <url type=\"homepage\">${TK7V_HOMEPAGE}</url>\n")
endif()
configure_file(resources/desktop/org.tk7v.Configurator.metainfo.xml.in
               ${CMAKE_BINARY_DIR}/doc/org.tk7v.Configurator.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/doc/org.tk7v.Configurator.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(DIRECTORY resources/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
# The command line's bash completion, where bash-completion looks for it on demand.
install(FILES tools/cli/completion/tk7v-cli DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# Manual pages and the changelog go in compressed, as Debian has them.
set(packaged "")
foreach(page tk7v.1 tk7v-station.1 tk7v-cli.1 tk7v-sim.1)
  list(APPEND packaged ${CMAKE_BINARY_DIR}/doc/${page}.gz)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/doc/${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/doc
    COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/docs/man/${page} > ${CMAKE_BINARY_DIR}/doc/${page}.gz
    DEPENDS ${CMAKE_SOURCE_DIR}/docs/man/${page})
  install(FILES ${CMAKE_BINARY_DIR}/doc/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
configure_file(docs/changelog.in ${CMAKE_BINARY_DIR}/doc/changelog @ONLY)
list(APPEND packaged ${CMAKE_BINARY_DIR}/doc/changelog.gz)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/doc/changelog.gz
  COMMAND gzip -9n -c ${CMAKE_BINARY_DIR}/doc/changelog > ${CMAKE_BINARY_DIR}/doc/changelog.gz
  DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog)
add_custom_target(packaged_docs ALL DEPENDS ${packaged})
set(TK7V_COPYRIGHT_SOURCE "")
if(TK7V_HOMEPAGE)
  set(TK7V_COPYRIGHT_SOURCE "Source: ${TK7V_HOMEPAGE}\n")
endif()
configure_file(docs/copyright.in ${CMAKE_BINARY_DIR}/doc/copyright @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/doc/changelog.gz ${CMAKE_BINARY_DIR}/doc/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The guide as a page with its pictures (what F1 in the window opens) and as its Markdown text.
install(FILES docs/guide.md ${TK7V_GUIDE_HTML} DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY docs/images DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGE_CONTACT "${TK7V_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
if(TK7V_HOMEPAGE)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${TK7V_HOMEPAGE}")
endif()
set(CPACK_PACKAGE_DESCRIPTION "Reads the configuration block of a TK-7V automatic alarm dialer over a
serial port, edits it in one window and writes it back; keeps prepared
configurations as 512-byte files. Includes tk7v-station, a programming
station window that writes and verifies one configuration in device after
device on every serial port at once, with a list or a counter of object
numbers and a report; tk7v-cli, which does the same from a terminal; and
tk7v-sim, a simulated device.")
# Libraries as the programs link them; the platform plugins Qt loads at run time and the font
# the window is drawn in (its layout is measured in it) are named, and libpq, which the programs
# load when a ledger on a server is first used. xdg-open shows the guide.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-liberation2 | fonts-liberation, libpq5")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_STRIP_FILES ON)
include(CPack)
