# Read by cpack before it packages. The binary looks for models under the prefix it was built
# for, and a Debian package puts them under /usr: the two must agree.
if(CPACK_GENERATOR STREQUAL "DEB" AND NOT CPACK_SPEECHLINE_INSTALL_PREFIX STREQUAL "/usr")
  message(FATAL_ERROR
    "A Debian package needs a build configured for /usr, and this one is for "
    "${CPACK_SPEECHLINE_INSTALL_PREFIX}. Package from a build directory of its own:\n"
    "  cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr\n"
    "  cmake --build build-deb && (cd build-deb && cpack -G DEB)")
endif()
