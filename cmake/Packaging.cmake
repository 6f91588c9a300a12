# The Debian packages: `cpack -G DEB` in the build folder makes two.
# vyxvozeradavo holds the programs; vyxvozeradavo-webengine the two plug-ins
# that hold the web engine (the window's certificate preview, vyxctl
# certificate). The engine is hundreds of megabytes that a production PC
# running vyxctl status, write and assign never needs: the programs recommend
# the plug-ins' package, so a plain install brings the engine and
# `apt-get install --no-install-recommends` leaves it out. A package of their
# own rather than a Recommends on the engine's libraries: dpkg-shlibdeps puts
# every library of every file of a package into its Depends, and a
# hand-written list of the engine's library packages would drift from what
# the plug-ins link.
set(CPACK_PACKAGE_NAME vyxvozeradavo)
set(CPACK_PACKAGE_VENDOR Kalvent)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION}.0)
set(CPACK_PACKAGE_CONTACT "Kalvent service <servis@kalvent.cz>")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL main webengine)
set(CPACK_DEBIAN_MAIN_PACKAGE_NAME vyxvozeradavo)
set(CPACK_DEBIAN_WEBENGINE_PACKAGE_NAME vyxvozeradavo-webengine)
# each one's first line is its summary; CPack indents the rest
set(CPACK_DEBIAN_MAIN_DESCRIPTION "service tool for door-access reader modules
Vyx 400 voze Radavo watches and configures one door-access reader module over
a serial line (19200 Bd, 8-bit framed or 9-bit mode) or over TCP to a serial
device server: live state, configuration write, bus address, certificate.

Serial ports need membership of the dialout group:
adduser USER dialout, as root (then log in again).

The package also holds vyxctl, the same from the command line, and
vyx-module-sim, a simulator of the reader module. The certificate's preview
and vyxctl certificate need the web engine of vyxvozeradavo-webengine.")
set(CPACK_DEBIAN_WEBENGINE_DESCRIPTION "web engine plug-ins of Vyx 400 voze Radavo
The certificate of quality of Vyx 400 voze Radavo is drawn by the Qt web
engine. These plug-ins hold it: the window's certificate preview and print,
and vyxctl certificate, which writes the certificate as a PDF. Each program
loads its plug-in only when the certificate is asked for.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# loaded at run time, so no library links them: the SVG image and icon plugins
# draw the window's images and icons
set(CPACK_DEBIAN_MAIN_PACKAGE_DEPENDS "libqt6svg6")
set(CPACK_DEBIAN_MAIN_PACKAGE_RECOMMENDS "vyxvozeradavo-webengine (= ${CPACK_PACKAGE_VERSION}), qt6-wayland")
set(CPACK_DEBIAN_WEBENGINE_PACKAGE_DEPENDS "vyxvozeradavo (= ${CPACK_PACKAGE_VERSION})")
# stripped by our own script, as Debian strips: CPack's own strip keeps the
# sections lintian finds unneeded
set(CPACK_VYX_STRIP ${CMAKE_STRIP})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/StripPackage.cmake)

# the machine-readable copyright file and, the packages being native, the
# changelog as changelog.gz, in each package's own folder
set(VYX_DEBIAN_DIR ${CMAKE_CURRENT_LIST_DIR}/debian)
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
install(FILES ${VYX_DEBIAN_DIR}/copyright ${VYX_CHANGELOG}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_DEBIAN_MAIN_PACKAGE_NAME})
install(FILES ${VYX_DEBIAN_DIR}/copyright ${VYX_CHANGELOG}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_DEBIAN_WEBENGINE_PACKAGE_NAME} COMPONENT webengine)
install(FILES ${VYX_DEBIAN_DIR}/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ${CPACK_DEBIAN_MAIN_PACKAGE_NAME})
set(CPACK_GENERATOR DEB)
include(CPack)
