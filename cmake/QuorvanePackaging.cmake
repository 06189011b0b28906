# The packages: a .deb on Linux (dependencies from dpkg-shlibdeps), a zip on
# Windows. Built by scripts/package.sh from the release and mingw-x86_64
# build directories, which build only the target quorvane-package-contents:
# what the package holds, without the tests and benchmarks.
set(CPACK_PACKAGE_NAME quorvane)
set(CPACK_PACKAGE_VENDOR "Quorvane")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Unattended serial data logger for a measurement station")
set(CPACK_PACKAGE_DESCRIPTION
    "Quorvane collects the ASCII output of up to nine serial instruments,
archives every port's text in hourly data files, computes diagnostic
statistics on chosen numeric fields, writes a coded daily log, keeps a
watchdog timer board armed and shows a status window. quorvane-cli runs
it without a window, also as the systemd service quorvane.service, and
checks its configuration.")
# There is no public address yet, and the domain .invalid says so (it cannot
# exist anywhere, where localhost is every machine itself). A release sets
# the real one: -DCPACK_PACKAGE_CONTACT="Name <address>".
set(QUORVANE_MAINTAINER "Quorvane developers <developers@quorvane.invalid>")
set(CPACK_PACKAGE_CONTACT "${QUORVANE_MAINTAINER}" CACHE STRING "The Maintainer of the packages")
# Build directories made before keep the earlier default, an address at
# localhost; it was never chosen by anyone, so it gives way.
if(CPACK_PACKAGE_CONTACT STREQUAL "Quorvane developers <quorvane@localhost>")
    set_property(CACHE CPACK_PACKAGE_CONTACT PROPERTY VALUE "${QUORVANE_MAINTAINER}")
endif()
set(CPACK_STRIP_FILES ON)

# The files of the package, built before cpack runs.
add_custom_target(quorvane-package-contents)
foreach(target ${QUORVANE_PROGRAMS} quorvane-man quorvane-help)
    if(TARGET ${target})
        add_dependencies(quorvane-package-contents ${target})
    endif()
endforeach()

if(WIN32)
    set(CPACK_GENERATOR ZIP)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(CPACK_SYSTEM_NAME windows-x86_64)
    else()
        set(CPACK_SYSTEM_NAME windows-i686)
    endif()
    set(CPACK_PACKAGE_FILE_NAME quorvane-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
else()
    # In /usr/share/doc/quorvane: the copyright file and the changelog, which
    # Debian's policy asks of every package (the changelog compressed as
    # gzip -9n makes it, by the target quorvane-package-docs).
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${QUORVANE_DOC_DIR})
    configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in
        ${PROJECT_BINARY_DIR}/packaging/changelog.txt @ONLY)
    set(changelog ${PROJECT_BINARY_DIR}/packaging/doc/changelog)
    add_custom_command(OUTPUT ${changelog}.gz
        COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_BINARY_DIR}/packaging/changelog.txt ${changelog}
        COMMAND ${QUORVANE_GZIP} -9nf ${changelog}
        DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog.txt
        COMMENT "Compressing the package's changelog"
        VERBATIM)
    add_custom_target(quorvane-package-docs ALL DEPENDS ${changelog}.gz)
    install(FILES ${changelog}.gz DESTINATION ${QUORVANE_DOC_DIR})
    add_dependencies(quorvane-package-contents quorvane-package-docs)

    set(CPACK_GENERATOR DEB)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION science)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # The View menu opens files with xdg-open (xdg-utils) and shows a port in
    # tio inside the terminal window (x-terminal-emulator). A desktop has
    # xdg-utils and a terminal already, but not tio, which brings one library
    # with it. A station without a desktop needs none of them, and xdg-utils
    # would bring some 70 packages more (its own Recommends: X tools, Perl
    # modules), so it is only suggested. quorvane-cli report draws its plots
    # with gnuplot; without it the report has its tables and numbers only.
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "tio, gnuplot-nox | gnuplot")
    set(CPACK_DEBIAN_PACKAGE_SUGGESTS "xdg-utils, x-terminal-emulator, systemd")
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
