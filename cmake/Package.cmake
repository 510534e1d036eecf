# The Debian package (scripts/package): the binary, the desktop entry and the icons, with
# dependencies computed by dpkg-shlibdeps and maintainer scripts that refresh the desktop
# and MIME databases.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME hopwell)
set(CPACK_PACKAGE_VENDOR "Kelvory")
set(CPACK_PACKAGE_CONTACT "Kelvory support <${HOPWELL_SUPPORT_EMAIL}>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop companion of the Kelvory web publishing platform")
set(CPACK_PACKAGE_DESCRIPTION
  "Runs the platform's kelv: commands (open, save, install, esef, test) as background jobs\nand shows them in a tray application.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# addr2line names the functions in crash records; xdg-open opens links and folders.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "binutils, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_SOURCE_DIR}/desktop/debian/postinst ${CMAKE_SOURCE_DIR}/desktop/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
