# The Debian package: `cpack -G DEB` in the build folder.
set(CPACK_PACKAGE_NAME vyxvozeradavo)
set(CPACK_PACKAGE_VENDOR Kalvent)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION}.0)
set(CPACK_PACKAGE_CONTACT "Kalvent service <servis@kalvent.cz>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service tool for door-access reader modules")
# the extended description below the summary line; CPack indents it
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Vyx 400 voze Radavo watches and configures one door-access reader module over
a serial line (19200 Bd, 8-bit framed or 9-bit mode) or over TCP to a serial
device server: live state, configuration write, bus address, certificate.

Serial ports need membership of the dialout group:
adduser USER dialout, as root (then log in again).

The package also holds vyx-module-sim, a simulator of the reader module.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# loaded at run time, so no library links them: the SVG image and icon plugins
# draw the window's images and icons
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
# stripped by our own script, as Debian strips: CPack's own strip keeps the
# sections lintian finds unneeded
set(CPACK_VYX_STRIP ${CMAKE_STRIP})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/StripPackage.cmake)

# the machine-readable copyright file and, the package being native, the
# changelog as changelog.gz
set(VYX_DEBIAN_DIR ${CMAKE_CURRENT_LIST_DIR}/debian)
set(VYX_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_PACKAGE_NAME})
file(STRINGS ${VYX_DEBIAN_DIR}/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^${CPACK_PACKAGE_NAME} \\(${CPACK_PACKAGE_VERSION}\\) ")
    message(FATAL_ERROR "cmake/debian/changelog: its first entry is not version ${CPACK_PACKAGE_VERSION}")
endif()
set(VYX_CHANGELOG ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${VYX_CHANGELOG}
    COMMAND gzip -9nc ${VYX_DEBIAN_DIR}/changelog > ${VYX_CHANGELOG}
    DEPENDS ${VYX_DEBIAN_DIR}/changelog
    VERBATIM)
add_custom_target(changelog ALL DEPENDS ${VYX_CHANGELOG})
install(FILES ${VYX_DEBIAN_DIR}/copyright ${VYX_CHANGELOG} DESTINATION ${VYX_DOC_DIR})
set(CPACK_GENERATOR DEB)
include(CPack)
