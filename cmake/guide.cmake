# The user guide as an HTML page (build/…/doc/guide.html, its pictures in docs/images): what the
# packages install and F1 in the window opens.
find_program(CMARK_GFM cmark-gfm REQUIRED)
set(TK7V_GUIDE_HTML ${CMAKE_BINARY_DIR}/doc/guide.html)
add_custom_command(OUTPUT ${TK7V_GUIDE_HTML}
  COMMAND ${CMAKE_COMMAND} -DCMARK=${CMARK_GFM} -DIN=${CMAKE_SOURCE_DIR}/docs/guide.md -DOUT=${TK7V_GUIDE_HTML}
          -P ${CMAKE_SOURCE_DIR}/cmake/make-guide.cmake
  DEPENDS ${CMAKE_SOURCE_DIR}/docs/guide.md ${CMAKE_SOURCE_DIR}/cmake/make-guide.cmake)
add_custom_target(guide ALL DEPENDS ${TK7V_GUIDE_HTML})
