# Install rules and the Debian package. Included from the top-level CMakeLists.txt.
#
#   cmake --install build --prefix /usr/local
#   (cd build && cpack -G DEB)        -> build/speechline_<version>_<arch>.deb
#
# Only the product is installed: speechline-scripted and the test programs never are.

include(GNUInstallDirs)

install(TARGETS speechline RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Debian wants manual pages compressed with gzip -9n (no name or time stamp inside).
find_program(SPEECHLINE_GZIP gzip)
if(SPEECHLINE_GZIP)
  set(speechline_manpage ${CMAKE_CURRENT_BINARY_DIR}/speechline.1.gz)
  add_custom_command(OUTPUT ${speechline_manpage}
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/docs/speechline.1
            ${CMAKE_CURRENT_BINARY_DIR}/speechline.1
    COMMAND ${SPEECHLINE_GZIP} -9nf ${CMAKE_CURRENT_BINARY_DIR}/speechline.1
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/speechline.1
    COMMENT "Compressing the manual page"
    VERBATIM)
  add_custom_target(speechline_manpage ALL DEPENDS ${speechline_manpage})
else()
  set(speechline_manpage ${PROJECT_SOURCE_DIR}/docs/speechline.1)
endif()
install(FILES ${speechline_manpage} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The docs for parent-program authors, with the example clients beside them. The pattern is
# matched at install time, so every guide in docs/ goes along.
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR} FILES_MATCHING PATTERN "*.md")
install(DIRECTORY examples DESTINATION ${CMAKE_INSTALL_DOCDIR}
  PATTERN "node_modules" EXCLUDE
  PATTERN "__pycache__" EXCLUDE)

if(NOT APPLE)
  # Where users add models for more languages; the binary looks here (see model_locator.h).
  install(DIRECTORY DESTINATION ${CMAKE_INSTALL_DATADIR}/speechline/models)
  install(FILES packaging/models-README RENAME README
    DESTINATION ${CMAKE_INSTALL_DATADIR}/speechline/models)
endif()

set(CPACK_PACKAGE_NAME speechline)
set(CPACK_PACKAGE_VENDOR "speechline maintainers")
set(CPACK_PACKAGE_CONTACT "speechline maintainers <maintainers@users.noreply.c-seed-9777d8e6.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "live speech-to-text on the command line, as JSON lines for a parent program")
if(APPLE)
  # Not stripped: the build signs the binary after linking, and stripping it afterwards would
  # invalidate that signature, which an arm64 Mac enforces at launch (tests/apple checks this).
  set(CPACK_GENERATOR TGZ)
else()
  set(CPACK_STRIP_FILES ON)
  set(CPACK_GENERATOR DEB)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
# One package for each shared library the binary links (dpkg -S on the linked .so files of
# Debian 12), and the model that makes --locale en-US work. tests/package checks the libraries
# against the binary's NEEDED entries, so a new library cannot be forgotten here.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libc6, libgcc-s1, libstdc++6, libpulse0, libpocketsphinx3, libsphinxbase3, libsoxr0, pocketsphinx-en-us")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse")
# CPack puts the summary first and indents these lines itself.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "speechline listens to the default microphone of the PulseAudio (or PipeWire) session, streams
the audio into the offline CMU PocketSphinx recognizer and writes what it hears to standard
output, one compact JSON object per line: a recording state, partial and final transcripts,
errors with stable codes, and a stopped state. It is meant to be started and read by another
program, such as an editor plug-in, a desktop app or a voice assistant.
.
US English works out of the box with pocketsphinx-en-us; models for more languages go into
/usr/share/speechline/models/. The protocol guide and example clients in Python and Node.js
are in /usr/share/doc/speechline/.")

include(CPack)
