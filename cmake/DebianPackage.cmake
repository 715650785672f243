# `cpack -G DEB` in a build folder packs what `cmake --install` installs into
# tarnwick-backup_<version>_<arch>.deb, installed under /usr.
set(CPACK_PACKAGE_NAME tarnwick-backup)
set(CPACK_PACKAGE_VENDOR "Tarnwick")
set(CPACK_PACKAGE_CONTACT "Tarnwick Backup developers <backup@tarnwick.example>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://tarnwick.example/backup")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "scheduled backups of files and folders to a folder or an FTP server")
set(CPACK_PACKAGE_DESCRIPTION
    "Tarnwick Backup copies the files and folders you choose into a backup folder,
on a schedule or whenever you ask: a local, external or network folder, or a
folder on an FTP server. It offers full and incremental backups, a history log,
a place in the notification area and a start with the desktop session.
tarnwick-backup-cli runs a backup project once, without a window, for scripts
and cron.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The libraries the programs link come from dpkg-shlibdeps (package dpkg-dev);
# Qt loads the window system and the SVG icon reader as plugins, which that
# scan cannot see.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6")
# The help page and web links open through the desktop.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")

include(CPack)
