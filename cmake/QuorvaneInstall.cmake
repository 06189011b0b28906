# What `cmake --install` puts on a station, and the packages made of it.
#
# Linux (configure with -DCMAKE_INSTALL_PREFIX=/usr for a system install, as
# the presets do): the three programs, the systemd unit with its sysusers.d
# and tmpfiles.d entries, Quorvane.ini in /etc/quorvane, the man pages
# (compressed by the target quorvane-man, part of `all`), the README and the
# examples (Quorvane.ini, the udev rules, the drop-in for the watchdog board).
# `cpack -G DEB` makes a .deb of it, with the package's own files from
# QuorvanePackaging.cmake.
#
# Windows: the executables, Quorvane.ini and the README side by side;
# `cpack -G ZIP` makes the zip.
include(GNUInstallDirs)

set(QUORVANE_PROGRAMS quorvane quorvane-cli quorvane-sim)

if(WIN32)
    foreach(program ${QUORVANE_PROGRAMS})
        if(TARGET ${program})
            install(TARGETS ${program} RUNTIME DESTINATION .)
        endif()
    endforeach()
    install(FILES ${PROJECT_SOURCE_DIR}/examples/Quorvane.ini DESTINATION .)
    install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
    return()
endif()

foreach(program ${QUORVANE_PROGRAMS})
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
endforeach()

set(QUORVANE_BIN_DIR ${CMAKE_INSTALL_FULL_BINDIR})
set(QUORVANE_CONFIG_DIR ${CMAKE_INSTALL_FULL_SYSCONFDIR}/quorvane)
set(QUORVANE_DOC_DIR ${CMAKE_INSTALL_FULL_DATAROOTDIR}/doc/quorvane)
configure_file(${PROJECT_SOURCE_DIR}/packaging/quorvane.service.in
    ${PROJECT_BINARY_DIR}/packaging/quorvane.service @ONLY)

# systemd looks for units, users and directories below the prefix's lib/.
install(FILES ${PROJECT_BINARY_DIR}/packaging/quorvane.service
    DESTINATION lib/systemd/system)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/quorvane.sysusers
    DESTINATION lib/sysusers.d RENAME quorvane.conf)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/quorvane.tmpfiles
    DESTINATION lib/tmpfiles.d RENAME quorvane.conf)
install(FILES ${PROJECT_SOURCE_DIR}/examples/Quorvane.ini DESTINATION ${QUORVANE_CONFIG_DIR})

# Man pages are installed as gzip -9n makes them (no name, no time stamp, so
# that the same page gives the same file).
find_program(QUORVANE_GZIP gzip REQUIRED)
set(QUORVANE_MAN_PAGES quorvane.1 quorvane-cli.1 quorvane-sim.1 Quorvane.ini.5)
set(QUORVANE_COMPRESSED_MAN_PAGES)
foreach(page ${QUORVANE_MAN_PAGES})
    set(copy ${PROJECT_BINARY_DIR}/man/${page})
    add_custom_command(OUTPUT ${copy}.gz
        COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/docs/man/${page} ${copy}
        COMMAND ${QUORVANE_GZIP} -9nf ${copy}
        DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/${page}
        COMMENT "Compressing the man page ${page}"
        VERBATIM)
    list(APPEND QUORVANE_COMPRESSED_MAN_PAGES ${copy}.gz)
    string(REGEX MATCH "[0-9]$" section ${page})
    install(FILES ${copy}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()
add_custom_target(quorvane-man ALL DEPENDS ${QUORVANE_COMPRESSED_MAN_PAGES})

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${QUORVANE_DOC_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/docs/status-page.png DESTINATION ${QUORVANE_DOC_DIR}/docs)
install(FILES ${PROJECT_SOURCE_DIR}/examples/Quorvane.ini
    ${PROJECT_SOURCE_DIR}/packaging/99-quorvane-serial.rules
    ${PROJECT_SOURCE_DIR}/packaging/watchdog-board.conf
    DESTINATION ${QUORVANE_DOC_DIR}/examples)
