# Install rules and the Debian package. Included from the top-level CMakeLists.txt.
#
#   cmake --install build                       (prefix /usr/local unless configured otherwise)
#   cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr
#   cmake --build build-deb && (cd build-deb && cpack -G DEB)   -> build-deb/speechline_*.deb
#
# Only the product is installed: speechline-scripted and the test programs never are.

include(GNUInstallDirs)
# The repository, wherever these rules are included from.
get_filename_component(speechline_source ${CMAKE_CURRENT_LIST_DIR} DIRECTORY)

install(TARGETS speechline RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(NOT APPLE)
  # The recognizer process; speechline finds it relative to itself (recognizer_process.h).
  install(TARGETS speechline-recognizer RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/speechline)
endif()

# The manual page, the README with docs/ and examples/, the copyright file.
include(${CMAKE_CURRENT_LIST_DIR}/documentation.cmake)

if(NOT APPLE)
  # The dictation key for Linux desktops (Python, standard library only).
  install(PROGRAMS ${speechline_source}/src/dictate/speechline-dictate
    DESTINATION ${CMAKE_INSTALL_BINDIR})
  # Where users add models for more languages; the binary looks here (see model_locator.h).
  install(DIRECTORY DESTINATION ${CMAKE_INSTALL_DATADIR}/speechline/models)
  install(FILES ${speechline_source}/packaging/models-README RENAME README
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
# dpkg-shlibdeps (package dpkg-dev, with file) finds the packages of the linked libraries and
# their versions; the model that makes --locale en-US work is the one no library implies.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# speechline-dictate runs on python3, and types through xdotool (X11) or wtype (Wayland).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "pocketsphinx-en-us, python3")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse, xdotool | wtype")
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

# cpack reads this for each generator it runs: it refuses a Debian package of a build whose
# prefix is not /usr.
set(CPACK_SPEECHLINE_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack_project.cmake)

include(CPack)
