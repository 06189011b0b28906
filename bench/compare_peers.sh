#!/usr/bin/env bash
# Puts the engine's figures next to general tools doing the same work:
#   - capture: the same 921600-baud-equivalent stream from quorvane-sim, once
#     into quorvane-cli run and once into socat writing a file; CPU of each;
#   - statistics: mean and population standard deviation of five fields of a
#     41.5 MB capture, through datamash and through awk (the engine's figure
#     is "statistics" of `engine_bench flush`).
# Usage: bench/compare_peers.sh BUILD_DIR [SECONDS]   (BUILD_DIR: e.g. build/release)
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

echo "== statistics of 41.5 MB (five fields)"
"$build/bench/engine_bench" flush 41.5 | sed 's/^/  engine: /'
"$build/bench/engine_bench" sample 41.5 "$work/sample.txt"
/usr/bin/time -f "%e" -o "$work/datamash.time" \
    datamash -W mean 1 pstdev 1 mean 2 pstdev 2 mean 3 pstdev 3 mean 4 pstdev 4 mean 5 pstdev 5 \
    <"$work/sample.txt" >/dev/null
/usr/bin/time -f "%e" -o "$work/awk.time" \
    awk '{for (i = 1; i <= 5; i++) {s[i] += $i; q[i] += $i * $i}} END {for (i = 1; i <= 5; i++) print s[i] / NR, sqrt(q[i] / NR - (s[i] / NR) ^ 2)}' \
    "$work/sample.txt" >/dev/null
size=$(wc -c <"$work/sample.txt")
for tool in datamash awk; do
    t=$(cat "$work/$tool.time")
    printf '  %s: %.3f s (%.0f MB/s)\n' "$tool" "$t" "$(awk -v b="$size" -v t="$t" 'BEGIN {print b / 1000000 / t}')"
done
