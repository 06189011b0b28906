#!/usr/bin/env bash
# Shows the logger at work on a fresh Debian 12: installs what is needed, builds
# the logger and quorvane-sim, starts three simulated instruments on
# pseudo-terminals, writes a demo Quorvane.ini (one-minute periods) and runs the
# logger on it: with a display, the window (`quorvane /AUTO`); without one (or
# with --headless), `quorvane-cli run`. Then it shows the log and a data file.
#
#   scripts/demo.sh [--headless]            run 130 s: crosses two period ends
#   scripts/demo.sh [--headless] SECONDS    run that long
#   scripts/demo.sh [--headless] 0          run until the window is closed (or Ctrl+C)
set -euo pipefail
cd "$(dirname "$0")/.."
headless=no
if [[ ${1:-} == --headless ]]; then
    headless=yes
    shift
fi
if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
    headless=yes
fi
seconds=${1:-130}

scripts/install-deps.sh --run
if [[ $headless == yes ]]; then
    cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVANE_BUILD_TESTS=OFF \
        -DQUORVANE_WITH_QT=OFF >/dev/null
    cmake --build build/demo --target quorvane-cli quorvane-sim
else
    cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVANE_BUILD_TESTS=OFF \
        -DQUORVANE_WITH_QT=ON >/dev/null
    cmake --build build/demo --target quorvane quorvane-cli quorvane-sim quorvane-help
fi
cli=$PWD/build/demo/src/cli/quorvane-cli
window=$PWD/build/demo/src/gui/qt/quorvane
sim=$PWD/build/demo/tools/sim/quorvane-sim

demo=$PWD/demo
if [[ $demo == *.* ]]; then
    demo=${TMPDIR:-/tmp}/quorvane-demo
fi
source scripts/demo-station.sh
trap demo_station_stop EXIT
demo_station "$sim" "$demo"

cd "$demo"
# Help > Operating Instructions looks in the current directory.
[[ $headless == yes ]] || cp "$OLDPWD/build/demo/QuorvaneHelpV1.3.doc" .
echo "== quorvane-cli check: $("$cli" check)"
if [[ $headless == no ]]; then
    # SIGTERM closes the window as its close box does: the period is flushed.
    window_status=0
    if [[ $seconds == 0 ]]; then
        echo "== quorvane /AUTO in $demo until the window is closed; files appear in $demo/data"
        "$window" /AUTO || window_status=$?
    else
        echo "== quorvane /AUTO in $demo for $seconds s (or until the window is closed); files appear in $demo/data"
        timeout --signal=TERM "$seconds" "$window" /AUTO || window_status=$?
    fi
    # A display that is set but cannot be reached (a stale DISPLAY after ssh,
    # say) ends the window at once: the demo goes on without it.
    if ((window_status != 0 && window_status != 124)) && ! compgen -G "$demo/data/*.LOG" >/dev/null; then
        echo "== the window could not start (status $window_status; is the display ${DISPLAY:-${WAYLAND_DISPLAY:-}} reachable?): running without it"
        headless=yes
    fi
fi
if [[ $headless == no ]]; then
    :
elif [[ $seconds == 0 ]]; then
    echo "== quorvane-cli run in $demo until Ctrl+C; data, statistics and log files appear in $demo/data"
    "$cli" run || true
else
    echo "== quorvane-cli run --for $seconds in $demo; data, statistics and log files appear in $demo/data"
    "$cli" run --for "$seconds"
fi

echo
echo "== files in $demo/data"
ls -l "$demo/data" || true
if log=$(ls -t "$demo"/data/*.LOG 2>/dev/null | head -n 1) && [[ -n $log ]]; then
    echo
    echo "== the log, $log"
    cat "$log"
else
    echo "== no log was written in $demo/data"
fi
if data=$(ls -t "$demo"/data/*.P01 2>/dev/null | tail -n 1) && [[ -n $data ]]; then
    echo
    echo "== a data file, $data (first 20 lines)"
    head -n 20 "$data"
else
    echo "== no data file was written in $demo/data"
fi
