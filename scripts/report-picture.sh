#!/usr/bin/env bash
# Makes docs/report-example.png, the picture of a report in the README: the
# last of ten generated days of five ports (bench/report_bench), reported by
# quorvane-cli report, the page's top drawn by wkhtmltoimage (offscreen).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --run
apt-get install -y -qq --no-install-recommends wkhtmltopdf xvfb xauth imagemagick >/dev/null
cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVANE_BUILD_TESTS=OFF \
    -DQUORVANE_BUILD_BENCH=ON >/dev/null
cmake --build build/demo --target quorvane-cli report_bench
work=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-report-picture-XXXXXX")
trap 'rm -rf "$work"' EXIT

build/demo/bench/report_bench make "$work/data" 10 5 >/dev/null
build/demo/src/cli/quorvane-cli report "$work/data" --day 2026-12-08 --out "$work/report.html"
xvfb-run -a wkhtmltoimage -q --width 1000 --height 1850 "$work/report.html" "$work/page.png"
convert "$work/page.png" -colors 128 PNG8:docs/report-example.png
echo "== docs/report-example.png"
