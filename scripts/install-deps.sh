#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and running need.
#   scripts/install-deps.sh          everything (native, Windows cross builds, wine, GUI, tools)
#   scripts/install-deps.sh --run    only what the native build and the demo need
set -euo pipefail

# gnuplot-nox draws the plots of quorvane-cli report.
native=(build-essential cmake ninja-build git pkg-config
        libgtest-dev googletest libbenchmark-dev nlohmann-json3-dev libcli11-dev
        qt6-base-dev libx11-dev fonts-dejavu-core pandoc libmosquitto-dev gnuplot-nox)
cross=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine64)
# mosquitto: the broker of the publishing tests (and its clients for trying it
# out); openssl makes the certificates of the TLS test.
tools=(xvfb xauth twm xfonts-base socat tio datamash gawk bc time imagemagick
       mosquitto mosquitto-clients openssl)
# The package check: cpack's dependency list (dpkg-shlibdeps, file), the
# unit's verification (systemd-analyze) and the man pages (groff).
packaging=(dpkg-dev file systemd groff-base lintian)

packages=("${native[@]}")
if [[ "${1:-}" != "--run" ]]; then
    packages+=("${cross[@]}" "${tools[@]}" "${packaging[@]}")
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
if ((${#missing[@]} == 0)); then
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then
    sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
