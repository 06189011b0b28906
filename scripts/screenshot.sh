#!/usr/bin/env bash
# Makes docs/status-page.png, the picture of the status page in the README, from
# the real window (drawn offscreen) on the demo's three simulated instruments,
# after the first status update (up to a minute).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --run
cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVANE_BUILD_TESTS=OFF \
    -DQUORVANE_WITH_QT=ON >/dev/null
cmake --build build/demo --target quorvane-screenshot quorvane-sim
shot=$PWD/build/demo/tools/screenshot/quorvane-screenshot
sim=$PWD/build/demo/tools/sim/quorvane-sim
picture=$PWD/docs/status-page.png

demo=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-screenshot-XXXXXX")
source scripts/demo-station.sh
trap 'demo_station_stop; chmod -R u+w "$demo"; rm -rf "$demo"' EXIT
demo_station "$sim" "$demo/station"

mkdir -p docs
cd "$demo/station"
QT_QPA_PLATFORM=offscreen "$shot" "$picture" --after-update
echo "== $picture"
