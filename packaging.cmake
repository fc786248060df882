# What the Debian package installs and how CPack builds it (make package).
include(GNUInstallDirs)

install(TARGETS tk7v tk7v-cli tk7v-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES resources/desktop/org.tk7v.Configurator.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES resources/desktop/org.tk7v.Configurator.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(DIRECTORY resources/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)

# Manual pages and the changelog go in compressed, as Debian has them.
set(packaged "")
foreach(page tk7v.1 tk7v-cli.1 tk7v-sim.1)
  list(APPEND packaged ${CMAKE_BINARY_DIR}/doc/${page}.gz)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/doc/${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/doc
    COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/docs/man/${page} > ${CMAKE_BINARY_DIR}/doc/${page}.gz
    DEPENDS ${CMAKE_SOURCE_DIR}/docs/man/${page})
  install(FILES ${CMAKE_BINARY_DIR}/doc/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
list(APPEND packaged ${CMAKE_BINARY_DIR}/doc/changelog.gz)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/doc/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/doc
  COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/docs/changelog > ${CMAKE_BINARY_DIR}/doc/changelog.gz
  DEPENDS ${CMAKE_SOURCE_DIR}/docs/changelog)
add_custom_target(packaged_docs ALL DEPENDS ${packaged})
install(FILES ${CMAKE_BINARY_DIR}/doc/changelog.gz docs/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES docs/guide.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY docs/images DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tk7v)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGE_CONTACT "TK-7V configurator developers <dev@tk7v.example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tk7v.example.org/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configurator of the TK-7V alarm dialer")
set(CPACK_PACKAGE_DESCRIPTION "Reads the configuration block of a TK-7V automatic alarm dialer over a
serial port, edits it in one window and writes it back; keeps prepared
configurations as 512-byte files. Includes tk7v-cli, which programs and
verifies many devices at once, and tk7v-sim, a simulated device.")
# Libraries as the programs link them; the platform plugins Qt loads at run time are named.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_STRIP_FILES ON)
include(CPack)
