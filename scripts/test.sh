#!/usr/bin/env bash
# Installs what is missing, then builds and tests every configuration:
# native release (and its .deb), AddressSanitizer + UndefinedBehaviorSanitizer,
# ThreadSanitizer, Windows 32-bit (build and link) and Windows 64-bit (tests
# under wine64, and its zip); and a plain CMake build as a new user makes it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

export WINEPREFIX="$PWD/build/wineprefix"
export WINEDEBUG=-all
export QT_QPA_PLATFORM=offscreen

declare -a timings=()
stage() {
    local name=$1
    shift
    local start=$SECONDS
    echo "==== $name"
    "$@"
    timings+=("$name: $((SECONDS - start)) s")
}

configure_and_build() {
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1"
}

native() {
    configure_and_build "$1"
    ctest --preset "$1"
}

windows64() {
    configure_and_build mingw-x86_64
    # Create the wine prefix once, before tests run side by side in it. The
    # window tests run on a virtual X server (xvfb-run -a) in a prefix of
    # their own (cmake/wine-gui-run.sh).
    /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
    ctest --preset mingw-x86_64
    /usr/lib/wine/wineserver -k 2>/dev/null || true
    scripts/check-package.sh zip build/mingw-x86_64
}

# `cmake -B build && cmake --build build`, the way most people build a CMake
# project: warnings are not errors by default. The one file that GCC 12 once
# warned about falsely at -O3 is compiled with them as errors all the same;
# the whole plain build is not repeated here.
plain_build() {
    # -U: the default, also in a directory that a previous run left with ON.
    cmake -S . -B build/plain -G Ninja -DCMAKE_BUILD_TYPE=Release -UQUORVANE_WERROR >/dev/null
    grep -qx 'QUORVANE_WERROR:BOOL=OFF' build/plain/CMakeCache.txt
    cmake -B build/plain -DQUORVANE_WERROR=ON >/dev/null
    cmake --build build/plain \
        --target tests/acquisition/CMakeFiles/engine_tests.dir/engine_hygrometer_test.cpp.o
}

total_start=$SECONDS
stage "release" native release
stage "package (deb)" scripts/check-package.sh deb build/release
stage "asan+ubsan" native asan
stage "tsan" native tsan
stage "windows i686 (build)" configure_and_build mingw-i686
stage "windows x86_64 (wine)" windows64
stage "plain cmake build" plain_build

echo "==== all tests passed"
printf '  %s\n' "${timings[@]}"
echo "  total: $((SECONDS - total_start)) s"
