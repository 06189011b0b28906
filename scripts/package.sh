#!/usr/bin/env bash
# Builds the packages for a station into build/packages/:
#   quorvane_1.3_amd64.deb              Debian 12: the programs, the service, man pages
#   quorvane-1.3-windows-x86_64.zip     Windows: the executables and Quorvane.ini
#
#   scripts/package.sh          both
#   scripts/package.sh deb      only the .deb (release build)
#   scripts/package.sh zip      only the zip (mingw-x86_64 build)
#
# An existing build directory is reused: only what changed is built again,
# and only what the package holds (the target quorvane-package-contents: the
# programs, their compressed man pages, the operating instructions), not the
# tests and benchmarks.
set -euo pipefail
cd "$(dirname "$0")/.."

what=${1:-all}
out="$PWD/build/packages"
mkdir -p "$out"

build() {
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1" --target quorvane-package-contents
}

package() {
    local preset=$1 generator=$2
    cpack --config "build/$preset/CPackConfig.cmake" -G "$generator" -B "$out" >/dev/null
}

case "$what" in
    all | deb | zip) ;;
    *)
        echo "usage: scripts/package.sh [deb|zip]" >&2
        exit 64
        ;;
esac
if [[ "$what" != zip ]]; then
    build release
    package release DEB
fi
if [[ "$what" != deb ]]; then
    build mingw-x86_64
    package mingw-x86_64 ZIP
fi
rm -rf "$out/_CPack_Packages"
ls -l "$out"/*.deb "$out"/*.zip 2>/dev/null || true
