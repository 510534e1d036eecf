# The Debian package (scripts/package, which also runs lintian on it): the stripped client,
# the desktop entry, icons, AppStream metainfo, man page, copyright and changelog, with
# dependencies computed by dpkg-shlibdeps and maintainer scripts that refresh the desktop
# and MIME databases. The debug symbols go into hopwell-dbgsym (a .ddeb, installed under
# /usr/lib/debug/.build-id), where the crash helper's addr2line finds them.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME hopwell)
set(CPACK_PACKAGE_VENDOR "Kelvory")
set(CPACK_PACKAGE_CONTACT "Kelvory support <${HOPWELL_SUPPORT_EMAIL}>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop companion of the Kelvory web publishing platform")
# Lines of at most 79 characters (lintian's limit for the long description).
set(CPACK_PACKAGE_DESCRIPTION
  "Runs what the Kelvory web interface hands over as kelv: links (open, save,\n"
  "install, esef, test) as background jobs: downloads chapters and opens them in\n"
  "the page-layout application, uploads and checks them in, installs the\n"
  "platform's plug-ins and opens ESEF reports. A tray application shows the jobs.")
string(CONCAT CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://support.kelvory.com/using-kelvory")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
# Qt's platform plugins are loaded at run time, so dpkg-shlibdeps does not see them: the X11
# one (xcb) comes with libqt6gui6, the Wayland one with qt6-wayland.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6gui6, qt6-wayland")
# addr2line names the functions in crash records; xdg-open opens links and folders.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "binutils, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_SOURCE_DIR}/desktop/debian/postinst ${CMAKE_SOURCE_DIR}/desktop/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
