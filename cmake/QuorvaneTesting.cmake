# GoogleTest: the host's package natively, Debian's source copy for cross builds.
if(CMAKE_CROSSCOMPILING)
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    target_compile_options(gtest PRIVATE -w)
    target_compile_options(gtest_main PRIVATE -w)
    target_link_options(gtest PUBLIC -static -static-libgcc -static-libstdc++)
else()
    find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# quorvane_add_test(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>]
#                   [CROSS_LAUNCHER <command...>] [SERIAL])
# SERIAL: the tests run alone, not beside others (real-time streams that a
# busy machine would starve).
# Natively every test case becomes a CTest test; in a cross build the whole
# executable is one test, run through the emulator (wine), or through
# CROSS_LAUNCHER, which receives the emulator and the executable as arguments.
function(quorvane_add_test name)
    cmake_parse_arguments(ARG "SERIAL" "" "SOURCES;LIBS;LABELS;CROSS_LAUNCHER" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} quorvane_options GTest::gtest_main Threads::Threads)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    if(CMAKE_CROSSCOMPILING AND ARG_CROSS_LAUNCHER)
        add_test(NAME ${name}
            COMMAND ${ARG_CROSS_LAUNCHER} ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${name}>)
        if(ARG_LABELS)
            set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
        endif()
    elseif(CMAKE_CROSSCOMPILING)
        add_test(NAME ${name} COMMAND ${name})
        if(ARG_LABELS)
            set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
        endif()
    else()
        set(serial FALSE)
        if(ARG_SERIAL)
            set(serial TRUE)
        endif()
        gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
            PROPERTIES LABELS "${ARG_LABELS}" RUN_SERIAL ${serial})
    endif()
endfunction()
