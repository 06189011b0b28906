# Every target of the project compiles with warnings as errors.
add_library(quorvane_options INTERFACE)
target_compile_options(quorvane_options INTERFACE
    -Wall -Wextra -Wpedantic -Werror -Wshadow -Wformat=2 -Wno-format-nonliteral
    -Wnon-virtual-dtor -Wcast-align -Wnull-dereference)
if(WIN32)
    # C99 printf semantics (%lld, %zu) in MinGW's C runtime.
    target_compile_definitions(quorvane_options INTERFACE __USE_MINGW_ANSI_STDIO=1 WIN32_LEAN_AND_MEAN NOMINMAX)
    # One self-contained executable: no MinGW runtime DLLs beside it.
    target_link_options(quorvane_options INTERFACE -static -static-libgcc -static-libstdc++)
endif()
