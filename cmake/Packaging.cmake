# The Debian package: `cpack -G DEB` in a build folder (./run package).
# It holds what the install rules put under the prefix: both programs, the
# desktop entry, the MIME types and the icon.

set(CPACK_PACKAGE_NAME tarnwick)
# The package's version is the one the programs print for --version.
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Corvane Software")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "HD DVD EVO and DVD VOB stream lister and demuxer")
set(CPACK_PACKAGE_DESCRIPTION
    "Tarnwick reads HD DVD EVO files and DVD VOB files (MPEG-2 program streams),\n"
    "lists every video, audio and subpicture stream with its header details and\n"
    "frame counts, and demuxes the chosen streams into elementary-stream files,\n"
    "also across a feature split into two files. It reads the disc's playlist to\n"
    "name the tracks, writes the title's chapters, and rebuilds an EVO with only\n"
    "the chosen streams. The package holds the desktop window, tarnwick, and the\n"
    "command-line front end, tarnwick-cli.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The build folder keeps its symbols for debugging; the package does not.
set(CPACK_STRIP_FILES ON)

set(TARNWICK_DEB_MAINTAINER "Corvane Software <tarnwick@corvane.example>"
    CACHE STRING "The Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TARNWICK_DEB_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)

# dpkg-shlibdeps names the exact runtime packages (and their least versions)
# of the libraries the programs link. Without it, the Debian 12 names.
find_program(TARNWICK_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TARNWICK_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  message(STATUS "dpkg-shlibdeps not found (package dpkg-dev): the .deb gets fixed Debian 12 dependencies")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1 (>= 3.0), libqt6core6 (>= 6.4.0), libqt6gui6 (>= 6.4.0), libqt6widgets6 (>= 6.4.0), libjpeg62-turbo (>= 1.3.1), libpng16-16 (>= 1.6.2), libudfread0 (>= 1.1.0)")
endif()

include(CPack)
