# The installed documentation. Included from packaging.cmake, which sets speechline_source.

# The manual pages carry the project's version and release date. Debian wants them compressed
# with gzip -9n (no name or time stamp inside). speechline-dictate is for Linux desktops.
set(speechline_pages speechline)
if(NOT APPLE)
  list(APPEND speechline_pages speechline-dictate)
endif()
find_program(SPEECHLINE_GZIP gzip)
foreach(page ${speechline_pages})
  configure_file(${speechline_source}/docs/${page}.1.in ${CMAKE_CURRENT_BINARY_DIR}/${page}.1
    @ONLY)
  if(SPEECHLINE_GZIP)
    set(speechline_manpage ${CMAKE_CURRENT_BINARY_DIR}/${page}.1.gz)
    add_custom_command(OUTPUT ${speechline_manpage}
      COMMAND ${SPEECHLINE_GZIP} -9nkf ${CMAKE_CURRENT_BINARY_DIR}/${page}.1
      DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/${page}.1
      COMMENT "Compressing the manual page ${page}.1"
      VERBATIM)
    add_custom_target(${page}_manpage ALL DEPENDS ${speechline_manpage})
  else()
    set(speechline_manpage ${CMAKE_CURRENT_BINARY_DIR}/${page}.1)
  endif()
  install(FILES ${speechline_manpage} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

# The documentation keeps the repository's layout (README.md beside docs/ and examples/), so its
# relative links resolve in the installed copy too. The README's links to what is not installed
# change: LICENSE to the copyright file beside it, the benchmark results to plain text.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${speechline_source}/README.md ${speechline_source}/LICENSE)
file(READ ${speechline_source}/README.md speechline_readme)
string(REPLACE "](LICENSE)" "](copyright)" speechline_readme "${speechline_readme}")
string(REGEX REPLACE "\\[([^]]*)\\]\\(bench/[^)]*\\)" "\\1"
  speechline_readme "${speechline_readme}")
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/README.md "${speechline_readme}")
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${speechline_source}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs
  FILES_MATCHING PATTERN "*.md")
install(DIRECTORY ${speechline_source}/examples DESTINATION ${CMAKE_INSTALL_DOCDIR}
  PATTERN "node_modules" EXCLUDE
  PATTERN "__pycache__" EXCLUDE)

# The licence in Debian's machine-readable copyright format, written from LICENSE: its terms
# become the text of the Expat licence (Debian's name for MIT), one space in, "." for a blank line.
file(READ ${speechline_source}/LICENSE speechline_license)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)" speechline_holder "${speechline_license}")
set(speechline_holder "${CMAKE_MATCH_1}")
string(REGEX REPLACE "^.*Copyright \\(c\\) [^\n]+\n" ""
  speechline_terms "${speechline_license}")
string(STRIP "${speechline_terms}" speechline_terms)
string(REPLACE "\n\n" "\n.\n" speechline_terms "${speechline_terms}")
string(REPLACE "\n" "\n " speechline_terms "${speechline_terms}")
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: speechline

Files: *
Copyright: ${speechline_holder}
License: Expat

License: Expat
 ${speechline_terms}
")
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
