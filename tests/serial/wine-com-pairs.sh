#!/usr/bin/env bash
# Runs a Windows test program under wine with linked pairs of COM ports: each
# pair is two pseudo-terminals joined by socat, mapped to COM<a> and COM<a+1>
# through the prefix's dosdevices links. The pairs reach the tests as
# QUORVANE_TEST_COM_PAIRS ("41:42,43:44").
# With QUORVANE_TEST_LATE_PAIR set ("45:46") one more pair is named but not
# there: its links point nowhere until the test creates the file named by
# QUORVANE_TEST_PLUG (a Windows path), then its ptys appear, as an instrument
# plugged in late would.
#   wine-com-pairs.sh FIRST_COM PAIRS COMMAND...
set -euo pipefail
first=$1
pairs=$2
shift 2

export WINEPREFIX="${WINEPREFIX:-${TMPDIR:-/tmp}/quorvane-wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
if [[ ! -d "$WINEPREFIX/dosdevices" ]]; then
    /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
fi
dosdevices="$WINEPREFIX/dosdevices"
# The wine server opens the ports and so gets hung up when the pairs go away at
# the end; started here, its report of that goes nowhere instead of into the
# test's output. (Already running for another test, it stays as it is.)
/usr/lib/wine/wineserver -p3 >/dev/null 2>&1 || true

work=$(mktemp -d)
socat_pids=()
links=()
cleanup() {
    for pid in "${socat_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for link in "${links[@]}"; do
        rm -f "$link"
    done
    rm -rf "$work"
}
trap cleanup EXIT

pair_list=""
for ((i = 0; i < pairs; i++)); do
    a=$((first + 2 * i))
    b=$((a + 1))
    socat pty,raw,echo=0,link="$work/com$a" pty,raw,echo=0,link="$work/com$b" &
    socat_pids+=($!)
    for _ in $(seq 100); do
        [[ -e "$work/com$a" && -e "$work/com$b" ]] && break
        sleep 0.1
    done
    if [[ ! -e "$work/com$a" || ! -e "$work/com$b" ]]; then
        echo "socat did not make the pty pair COM$a/COM$b" >&2
        exit 1
    fi
    ln -sfn "$work/com$a" "$dosdevices/com$a"
    ln -sfn "$work/com$b" "$dosdevices/com$b"
    links+=("$dosdevices/com$a" "$dosdevices/com$b")
    pair_list+="${pair_list:+,}$a:$b"
done

export QUORVANE_TEST_COM_PAIRS="$pair_list"

if [[ -n "${QUORVANE_TEST_LATE_PAIR:-}" ]]; then
    late_a=${QUORVANE_TEST_LATE_PAIR%%:*}
    late_b=${QUORVANE_TEST_LATE_PAIR##*:}
    ln -sfn "$work/com$late_a" "$dosdevices/com$late_a"
    ln -sfn "$work/com$late_b" "$dosdevices/com$late_b"
    links+=("$dosdevices/com$late_a" "$dosdevices/com$late_b")
    export QUORVANE_TEST_PLUG="Z:${work//\//\\}\\plug"
    (
        while [[ ! -e "$work/plug" ]]; do sleep 0.05; done
        exec socat pty,raw,echo=0,link="$work/com$late_a" pty,raw,echo=0,link="$work/com$late_b"
    ) &
    socat_pids+=($!)
fi
"$@"
