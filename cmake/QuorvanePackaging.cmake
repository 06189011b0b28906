# The packages: a .deb on Linux (dependencies from dpkg-shlibdeps), a zip on
# Windows. Built by scripts/package.sh from the release and mingw-x86_64
# build directories.
set(CPACK_PACKAGE_NAME quorvane)
set(CPACK_PACKAGE_VENDOR "Quorvane")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Unattended serial data logger for a measurement station")
set(CPACK_PACKAGE_DESCRIPTION
    "Quorvane collects the ASCII output of up to nine serial instruments, archives
every port's text in hourly data files, computes diagnostic statistics on chosen
numeric fields, writes a coded daily log, keeps a watchdog timer board armed
and shows a status window. quorvane-cli runs it without a window, also as the
systemd service quorvane.service, and checks its configuration.")
set(CPACK_PACKAGE_CONTACT "Quorvane developers <quorvane@localhost>" CACHE STRING
    "The Maintainer of the packages")
set(CPACK_STRIP_FILES ON)

if(WIN32)
    set(CPACK_GENERATOR ZIP)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(CPACK_SYSTEM_NAME windows-x86_64)
    else()
        set(CPACK_SYSTEM_NAME windows-i686)
    endif()
    set(CPACK_PACKAGE_FILE_NAME quorvane-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION science)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # The viewers of the window's View menu and the serial terminal.
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, tio")
    set(CPACK_DEBIAN_PACKAGE_SUGGESTS "systemd")
    configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/conffiles.in
        ${PROJECT_BINARY_DIR}/packaging/debian/conffiles @ONLY)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
        ${PROJECT_BINARY_DIR}/packaging/debian/conffiles
        ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
        ${PROJECT_SOURCE_DIR}/packaging/debian/prerm
        ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)
