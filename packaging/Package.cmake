# The Debian package (CPack's DEB generator), built by scripts/package:
# fetchlet_VERSION_ARCH.deb with the install layout of packaging/ and the
# private folder, its library dependencies worked out from the binaries by
# dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME fetchlet)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Fetchlet team")
set(CPACK_PACKAGE_CONTACT "Fetchlet team <team@example.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "download one file over HTTP, check it and extract it")
# The long description; CPack puts the summary line above it and indents it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Fetchlet downloads the one file that its publisher has set up into its
working folder, shows the progress with a gauge and the received and total
Kbyte, checks the file's CRC and extracts it when it is an archive (LHA,
ZIP, CAB, ARJ, the tar family, RAR, BGA) through its own archiver
libraries.

fetchlet-publish turns a publisher's prepared folder into a copy that end
users unpack and start with a double click.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Not found from the binaries: the platform plugins that show the windows,
# the Japanese font the windows' texts are set in and Qt's translations of
# its standard dialogs.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-ipafont-gothic, qt6-translations-l10n")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
