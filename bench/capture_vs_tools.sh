#!/usr/bin/env bash
# Puts the engine's capture next to general tools doing the same work: the
# same 921600-baud-equivalent stream from quorvane-sim, into quorvane-cli run,
# into socat writing a file and into cat; CPU of each, per second and per MB
# archived. (The statistics beside awk and datamash:
# bench/statistics_vs_tools.sh.)
# Usage: bench/capture_vs_tools.sh BUILD_DIR [SECONDS]   (BUILD_DIR: e.g. build/release)
set -euo pipefail
build=$(realpath "$1")
seconds=${2:-20}
sim=$build/tools/sim/quorvane-sim
cli=$build/src/cli/quorvane-cli
work=$(mktemp -d /tmp/quorvane-peers-XXXXXX)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT

cpu_of() {  # user+system seconds of a finished process, as written by timed
    cat "$1"
}

timed() {  # timed OUTPUT COMMAND...: runs COMMAND, writes its CPU seconds (to the microsecond)
    local out=$1
    shift
    python3 -c 'import resource, subprocess, sys
subprocess.call(sys.argv[2:])
r = resource.getrusage(resource.RUSAGE_CHILDREN)
open(sys.argv[1], "w").write("%.6f\n" % (r.ru_utime + r.ru_stime))' "$out" "$@"
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
(cd "$work/station" && timed "$work/cli.time" "$cli" run --for "$seconds" >/dev/null)
timed "$work/socat.time" \
    timeout -s INT "$seconds" socat -u "FILE:$work/tty,raw,echo=0" "CREATE:$work/socat.txt" || true
stty -F "$work/tty" raw -echo
timed "$work/cat.time" timeout -s INT "$seconds" cat "$work/tty" >"$work/cat.txt" || true
kill "$sim_pid"

report() {  # name, time file, bytes
    awk -v name="$1" -v c="$(cpu_of "$2")" -v s="$seconds" -v b="$3" 'BEGIN {
        per_mb = b > 0 ? c * 1000 / (b / 1e6) : 0
        printf "  %-18s %6.2f %% of one core, %7.1f ms of CPU per MB (%d bytes)\n", name, c * 100 / s, per_mb, b
    }'
}
report "quorvane-cli run:" "$work/cli.time" "$(cat "$work"/station/data/*.P01 | wc -c)"
report "socat to a file:" "$work/socat.time" "$(wc -c <"$work/socat.txt")"
report "cat to a file:" "$work/cat.time" "$(wc -c <"$work/cat.txt")"
