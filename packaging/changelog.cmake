# The Debian changelog of this native package, written from the project's version and release
# date: one entry for the version, compressed as Debian wants (changelog.gz, gzip -9n).
# Included from packaging.cmake on Linux, which sets speechline_source.

# The entry's date: midnight UTC of the release day, in the form the changelog format requires.
execute_process(COMMAND date -u -R -d "${SPEECHLINE_RELEASE_DATE} 00:00 UTC"
  OUTPUT_VARIABLE speechline_changelog_date OUTPUT_STRIP_TRAILING_WHITESPACE
  COMMAND_ERROR_IS_FATAL ANY)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/changelog
"speechline (${PROJECT_VERSION}) unstable; urgency=medium

  * Release ${PROJECT_VERSION}.

 -- ${CPACK_PACKAGE_CONTACT}  ${speechline_changelog_date}
")
set(speechline_changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${speechline_changelog}
  COMMAND gzip -9nkf ${CMAKE_CURRENT_BINARY_DIR}/changelog
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog
  COMMENT "Compressing the Debian changelog"
  VERBATIM)
add_custom_target(speechline_changelog ALL DEPENDS ${speechline_changelog})
install(FILES ${speechline_changelog} DESTINATION ${CMAKE_INSTALL_DOCDIR})
