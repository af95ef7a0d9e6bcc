# The Debian package: `cpack -G DEB` in a configured and built tree (see
# scripts/package). Everything the install rules put under the prefix goes
# into one package, arrester-monitor, installed below /usr.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME arrester-monitor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "${ARRESTER_DEVELOPER}")
set(CPACK_PACKAGE_CONTACT "${ARRESTER_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "monitor for a clamp leakage-current meter of surge arresters")
set(CPACK_PACKAGE_DESCRIPTION [=[
The PC side of a hand-held clamp leakage-current meter for live-line testing
of zinc-oxide surge arresters, connected by a serial line. The window
(arrester-monitor, in Simplified Chinese) polls the present reading twice a
second, plots a trend with cursors, shows MAX, MIN and AVERAGE and blinks an
alarm lamp at a set value; it downloads the readings stored in the meter into
a table that can be paged, saved as text and printed, and records every run
in a local archive. The console tool arrester-cli does the same from the
shell, exports the archive as CSV and copies it to a team PostgreSQL server;
meter-sim stands in for a meter.

Opening a serial port needs membership of the dialout group
(sudo adduser $USER dialout, then log in again); the package never changes
group memberships itself.]=])

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ARRESTER_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${ARRESTER_HOMEPAGE}")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# Libraries the programs link are found by dpkg-shlibdeps; the SQLite driver
# of the archive is a Qt plug-in, loaded at run time, so it is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Every text of the window is Chinese in a Song (Ming) face: without one it
# is all boxes, so a face the window maps 宋体 onto is a dependency.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, fonts-arphic-uming | fonts-noto-cjk")
# Qt's own Chinese texts (dialog buttons).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")

# Installed programs carry no debugging symbols, whatever the build type, and
# folders made on the way get the usual permissions whatever the umask.
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

include(CPack)
