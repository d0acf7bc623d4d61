# SPDX-License-Identifier: MIT
# One Debian package, `cutcomp`, with everything a user of the tool or the library needs: the
# command-line tool and its man page, the shared library (SONAME libcutcomp.so.1), the headers,
# the CMake package and the pkg-config file. `cmake --workflow --preset deb` builds it; any
# configured build tree can also be packed with `cpack -G DEB --config <build>/CPackConfig.cmake`.
#
# The run-time dependencies are not written by hand: dpkg-shlibdeps reads them off the ELF files,
# and the package declares its own library in a shlibs file so that packages built against it
# depend on `cutcomp (>= version)`.
set(CUTCOMP_PACKAGE_MAINTAINER "The cutcomp developers" CACHE STRING
  "Maintainer field of the Debian package (Name <address>)")

install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
  FILES_MATCHING PATTERN "*.ngc" PATTERN "*.tbl" PATTERN "compensate_contour.cpp"
  PATTERN "compensate_contour.c")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME cutcomp)
set(CPACK_PACKAGE_VENDOR "The cutcomp developers")
set(CPACK_PACKAGE_CONTACT "${CUTCOMP_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# The first line of the description is the summary above; the rest is wrapped by hand.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [[
cutcomp computes the tool-centre path of a contour made of lines and circular
arcs, streaming, segment by segment: offsets, corner joints, start-up and cancel
moves, interference detection and evasion of segments too short for the cutter.
.
The command-line tool compensates G-code part programs written with G41/G42/G40.
The C++17 library (headers under crc/) depends on nothing but the standard
library: compensation and the gouge audit in one call (crc/path.h), a C
interface (crc/crc_c.h), and the engine with its list-backed host. It is found
with find_package(cutcomp) or pkg-config (cutcomp, cutcomp-c).]])
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "cmake, pkg-config")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
