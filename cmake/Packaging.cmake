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
sudo adduser $USER dialout (then log in again).

The package also holds vyx-module-sim, a simulator of the reader module.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# loaded at run time, so no library links them: the SVG image and icon plugins
# draw the window's images and icons
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
include(CPack)
