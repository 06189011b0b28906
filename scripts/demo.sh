#!/usr/bin/env bash
# Shows the logger at work on a fresh Debian 12: installs what is needed, builds
# quorvane-cli and quorvane-sim, starts three simulated instruments on
# pseudo-terminals, writes a demo Quorvane.ini (one-minute periods) and runs
# `quorvane-cli run` on it, then shows the log and a data file.
#
#   scripts/demo.sh            run 130 s: crosses two period ends
#   scripts/demo.sh SECONDS    run that long
#   scripts/demo.sh 0          run until Ctrl+C
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-130}

scripts/install-deps.sh --run
cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVANE_BUILD_TESTS=OFF \
    -DQUORVANE_WITH_QT=OFF >/dev/null
cmake --build build/demo --target quorvane-cli quorvane-sim
cli=$PWD/build/demo/src/cli/quorvane-cli
sim=$PWD/build/demo/tools/sim/quorvane-sim

# The output directory may not contain a "." (the logger refuses such paths).
demo=$PWD/demo
if [[ $demo == *.* ]]; then
    demo=${TMPDIR:-/tmp}/quorvane-demo
fi
if [[ -d $demo ]]; then
    chmod -R u+w "$demo"  # the logger leaves its files read-only
    rm -rf "$demo"
fi
mkdir -p "$demo/data"

pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
}
trap cleanup EXIT

# Three instruments, each behind a stable link name in the demo folder.
"$sim" numeric --rate 2 --fields 6 --terminator crlf --link "$demo/tty-thermo" >/dev/null &
pids+=($!)
"$sim" numeric --rate 5 --fields 3 --terminator lf --garble-every 25 --short-every 40 --seed 2 \
    --link "$demo/tty-wind" >/dev/null &
pids+=($!)
"$sim" hygrometer --rate 1 --fields 4 --seed 3 --link "$demo/tty-ophir" >/dev/null &
pids+=($!)
for link in tty-thermo tty-wind tty-ophir; do
    for _ in $(seq 50); do
        [[ -e $demo/$link ]] && break
        sleep 0.1
    done
    [[ -e $demo/$link ]] || { echo "quorvane-sim did not start ($link)" >&2; exit 1; }
done

port() {  # port <n> <link> <instrument> <record end> <stats: positions labels> <init>
    cat <<INI
[COM$1]
Device=$demo/$2
InstrumentType=$3
StartupInitializationFunction=$7
AcquisitionInitializationFunction=$7
Baud=9600
Parity=N
DataBits=8
StopBits=1
DoStats=YES
StringTerminationCharacter=$4
LeadingTokenCharactersToStrip=0
TokenIndicesForStatistics=$5
TokenLabelsForStatistics=$6
ErrorCheckingTokenIndices=$(for _ in $5; do printf '0 '; done)
ErrorValuesPerTokenIndex=$(for _ in $5; do printf -- '-9999 '; done)
INI
}
{
    printf '[QUORVANE]\nOutputDriveAndPath=%s\nWatchDogTimerAddressInHex=NONE\n' "$demo/data"
    printf 'DiskWriteAndStatsFrequencyInMinutes=1\n'
    port 1 tty-thermo Thermometer 10 "0 1 2" "T_air T_dew P_stat" NONE
    port 2 tty-wind Anemometer 10 "0 1" "Speed Direction" NONE
    port 3 tty-ophir Hygrometer 10 "0 1" "H2O T_cell" GETOPHIRCONSTANTS
} >"$demo/Quorvane.ini"
# The value lists end in a blank, which the reader allows; trim them anyway.
sed -i 's/ *$//' "$demo/Quorvane.ini"

cd "$demo"
echo "== quorvane-cli check: $("$cli" check)"
if [[ $seconds == 0 ]]; then
    echo "== quorvane-cli run in $demo until Ctrl+C; data, statistics and log files appear in $demo/data"
    "$cli" run || true
else
    echo "== quorvane-cli run --for $seconds in $demo; data, statistics and log files appear in $demo/data"
    "$cli" run --for "$seconds"
fi

echo
echo "== files in $demo/data"
ls -l "$demo/data"
log=$(ls -t "$demo"/data/*.LOG | head -n 1)
echo
echo "== the log, $log"
cat "$log"
data=$(ls -t "$demo"/data/*.P01 | tail -n 1)
echo
echo "== a data file, $data (first 20 lines)"
head -n 20 "$data"
