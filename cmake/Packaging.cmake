# Desktop install and the Debian package. Only what the program or the desktop
# reads is installed: the panel pictures, the palette and the manual are built
# into the program.
set(HOLLIN_MAINTAINER "Hollin developers <hollin@example.org>" CACHE STRING
  "Maintainer of the package, \"Name <address>\" (tools/package.sh passes $DEBFULLNAME <$DEBEMAIL>)")
set(HOLLIN_HOMEPAGE "https://example.org/hollin" CACHE STRING "Project home page")
set(HOLLIN_SCREENSHOTS "${HOLLIN_HOMEPAGE}/screenshots" CACHE STRING
  "Web folder holding docs/screenshots, for software centres")
set(HOLLIN_APPSTREAM_ID "org.example.hollin" CACHE STRING "AppStream component id (reverse domain)")

set(packaging ${PROJECT_SOURCE_DIR}/packaging)
set(generated ${PROJECT_BINARY_DIR}/packaging)

install(FILES ${PROJECT_SOURCE_DIR}/data/hollin.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/data/hollin.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# The PNG sizes are rendered from hollin.svg (rsvg-convert -w N -h N) and committed.
foreach(size 16 22 24 32 48 64 128 256)
  install(FILES ${PROJECT_SOURCE_DIR}/data/icons/hollin-${size}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME hollin.png)
endforeach()

configure_file(${packaging}/hollin.metainfo.xml.in ${generated}/${HOLLIN_APPSTREAM_ID}.metainfo.xml @ONLY)
install(FILES ${generated}/${HOLLIN_APPSTREAM_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
configure_file(${packaging}/copyright ${generated}/copyright @ONLY)
configure_file(${packaging}/changelog ${generated}/changelog @ONLY)

# Man pages (English, and Japanese under the ja locale) and the changelog,
# compressed without a time stamp so that builds are reproducible.
set(compressed)
foreach(file IN ITEMS hollin.1 hollin-cli.1 ja/hollin.1 ja/hollin-cli.1)
  get_filename_component(folder ${file} DIRECTORY)
  file(MAKE_DIRECTORY ${generated}/${folder})
  add_custom_command(OUTPUT ${generated}/${file}.gz
    COMMAND gzip -9nc ${packaging}/${file} > ${generated}/${file}.gz
    DEPENDS ${packaging}/${file} VERBATIM)
  list(APPEND compressed ${generated}/${file}.gz)
endforeach()
add_custom_command(OUTPUT ${generated}/changelog.gz
  COMMAND gzip -9nc ${generated}/changelog > ${generated}/changelog.gz
  DEPENDS ${packaging}/changelog VERBATIM)
add_custom_target(hollin_package_docs ALL DEPENDS ${compressed} ${generated}/changelog.gz)
install(FILES ${generated}/hollin.1.gz ${generated}/hollin-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${generated}/ja/hollin.1.gz ${generated}/ja/hollin-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/ja/man1)
install(FILES ${generated}/copyright ${generated}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/hollin)
# A timer for the user's systemd: receives inside the desktop session, where
# the keyring answers (cron runs outside it). Enabled by the user.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/systemd/hollin-receive.service
              ${PROJECT_SOURCE_DIR}/packaging/systemd/hollin-receive.timer
        DESTINATION lib/systemd/user)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME hollin)
set(CPACK_PACKAGE_VENDOR "Hollin developers")
set(CPACK_PACKAGE_CONTACT "${HOLLIN_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${HOLLIN_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Japanese mail client with a free layout")
set(CPACK_PACKAGE_DESCRIPTION [=[Hollin is a mail client for Japanese-language users. It serves one
account: one POP3 server (plain or APOP login, optionally over TLS) for
receiving and one SMTP server (STARTTLS or SMTPS, SMTP AUTH) for sending.
Its face is a small shaped control panel and five floating, always-on-top
button windows that the user places anywhere on the desktop.

Mail and addresses are stored in the fixed-length Shift-JIS record files of
Hollin's Windows version, so existing data can be carried over. mailto:
links open the compose window. The hollin-cli command receives, sends,
lists and exports mail without windows.]=])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${HOLLIN_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's own Japanese texts (dialog buttons, help headings) and Japanese fonts.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n, fonts-noto-cjk | fonts-ipafont-gothic")
# xdg-open hands web links and the attachment folder to the desktop; the
# keyring library reaches the desktop keyring through libsecret, loaded when present.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, libsecret-1-0")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# Strips the programs as Debian does (no .comment or .note sections).
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/PackageStrip.cmake)
include(CPack)
