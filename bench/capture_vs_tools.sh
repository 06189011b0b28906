#!/usr/bin/env bash
# Puts the engine's capture next to a general tool doing the same work: the
# same 921600-baud-equivalent stream from quorvane-sim, once into quorvane-cli
# run and once into socat writing a file; CPU of each. (The statistics beside
# awk and datamash: bench/statistics_vs_tools.sh.)
# Usage: bench/capture_vs_tools.sh BUILD_DIR [SECONDS]   (BUILD_DIR: e.g. build/release)
set -euo pipefail
build=$(realpath "$1")
seconds=${2:-20}
sim=$build/tools/sim/quorvane-sim
cli=$build/src/cli/quorvane-cli
work=$(mktemp -d /tmp/quorvane-peers-XXXXXX)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT

cpu_of() {  # user+system seconds of a finished process, from /usr/bin/time's output file
    awk '{print $1 + $2}' "$1"
}

# 921600 baud is 92160 bytes/s; the default record is about 40 bytes.
rate=2300

echo "== capture: one port at ~92 kB/s for $seconds s"
"$sim" numeric --rate "$rate" --link "$work/tty" >/dev/null &
sim_pid=$!
sleep 0.5
mkdir -p "$work/station/data"
cat >"$work/station/Quorvane.ini" <<INI
[QUORVANE]
OutputDriveAndPath=$work/station/data
WatchDogTimerAddressInHex=NONE
DiskWriteAndStatsFrequencyInMinutes=60
[COM1]
Device=$work/tty
InstrumentType=Bench
StartupInitializationFunction=NONE
AcquisitionInitializationFunction=NONE
Baud=9600
Parity=N
DataBits=8
StopBits=1
DoStats=NO
StringTerminationCharacter=10
LeadingTokenCharactersToStrip=0
TokenIndicesForStatistics=NONE
TokenLabelsForStatistics=NONE
ErrorCheckingTokenIndices=NONE
ErrorValuesPerTokenIndex=NONE
INI
(cd "$work/station" && /usr/bin/time -f "%U %S" -o "$work/cli.time" "$cli" run --for "$seconds" >/dev/null)
/usr/bin/time -f "%U %S" -o "$work/socat.time" \
    timeout -s INT "$seconds" socat -u "FILE:$work/tty,raw,echo=0" "CREATE:$work/socat.txt" || true
kill "$sim_pid"
printf '  quorvane-cli run: %.2f %% of one core (%s bytes archived)\n' \
    "$(awk -v c="$(cpu_of "$work/cli.time")" -v s="$seconds" 'BEGIN {print c * 100 / s}')" \
    "$(cat "$work"/station/data/*.P01 | wc -c)"
printf '  socat to a file:  %.2f %% of one core (%s bytes)\n' \
    "$(awk -v c="$(cpu_of "$work/socat.time")" -v s="$seconds" 'BEGIN {print c * 100 / s}')" "$(wc -c <"$work/socat.txt")"
