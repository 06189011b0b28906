# Every target of the project compiles with these warnings. They are errors
# where we develop (the presets and CI turn QUORVANE_WERROR on); a plain build
# with another compiler version only warns.
option(QUORVANE_WERROR "Treat compiler warnings as errors" OFF)
add_library(quorvane_options INTERFACE)
target_compile_options(quorvane_options INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wformat=2 -Wno-format-nonliteral
    -Wnon-virtual-dtor -Wcast-align -Wnull-dereference)
if(QUORVANE_WERROR)
    target_compile_options(quorvane_options INTERFACE -Werror)
endif()
if(WIN32)
    # C99 printf semantics (%lld, %zu) in MinGW's C runtime.
    target_compile_definitions(quorvane_options INTERFACE __USE_MINGW_ANSI_STDIO=1 WIN32_LEAN_AND_MEAN NOMINMAX)
    # One self-contained executable: no MinGW runtime DLLs beside it.
    target_link_options(quorvane_options INTERFACE -static -static-libgcc -static-libstdc++)
endif()
