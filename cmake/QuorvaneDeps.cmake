# Third-party pieces. Header-only libraries come from Debian's packages; for the
# Windows cross builds their headers are exposed through a directory of links,
# so that the cross compiler never sees the host's /usr/include.
find_package(Threads REQUIRED)

set(QUORVANE_HEADER_LINKS ${CMAKE_BINARY_DIR}/third_party/include)
file(MAKE_DIRECTORY ${QUORVANE_HEADER_LINKS})
foreach(dir nlohmann CLI)
    if(EXISTS /usr/include/${dir} AND NOT EXISTS ${QUORVANE_HEADER_LINKS}/${dir})
        file(CREATE_LINK /usr/include/${dir} ${QUORVANE_HEADER_LINKS}/${dir} SYMBOLIC)
    endif()
endforeach()
add_library(quorvane_third_party INTERFACE)
target_include_directories(quorvane_third_party SYSTEM INTERFACE ${QUORVANE_HEADER_LINKS})

# libmosquitto for publishing, where pkg-config finds it (native Linux builds;
# Debian has no build of it for the Windows cross compilers).
set(QUORVANE_HAVE_MQTT OFF)
if(NOT WIN32)
    find_package(PkgConfig QUIET)
    if(PkgConfig_FOUND)
        pkg_check_modules(MOSQUITTO QUIET IMPORTED_TARGET libmosquitto)
        if(MOSQUITTO_FOUND)
            set(QUORVANE_HAVE_MQTT ON)
        endif()
    endif()
endif()
message(STATUS "Publishing to MQTT brokers: ${QUORVANE_HAVE_MQTT}")
