#!/usr/bin/env bash
# The README's way to give a Windows program a serial device under wine, tried
# end to end on a pseudo-terminal pair made by socat: COM1 is mapped to one end
# through the registry (HKLM\Software\Wine\Ports) and the wine server is
# restarted, exactly as the README says; then `quorvane-cli dump` opens COM1,
# sends "ready" through it, and must read the line that is written into the
# other end once "ready" came out there. (A link made by hand as
# dosdevices/com1 does not hold: wine's mount manager makes the comN links
# again at every start, COM1 for /dev/ttyS0 where there is one.)
# Everything runs in a wine prefix of its own, which is made here and removed
# at the end with its wine server, its socat and the wine server's directory.
#   wine-com-recipe.sh QUORVANE-CLI.EXE
set -euo pipefail
cli=$1
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver

work=$(mktemp -d -t wine-com-recipe-XXXXXX)
export WINEPREFIX="$work/prefix"
export WINEDEBUG=-all
# The wine server keeps its socket and lock below TMPDIR: here, so that they
# go with the rest.
export TMPDIR="$work/tmp"
mkdir "$TMPDIR"

pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    "$wineserver" -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "wine-com-recipe: $*" >&2
    for file in "$work"/*.log; do
        [[ -s "$file" ]] && { echo "--- ${file##*/}" >&2; cat "$file" >&2; }
    done
    exit 1
}

socat pty,raw,echo=0,link="$work/a" pty,raw,echo=0,link="$work/b" 2>"$work/socat.log" &
pids+=($!)
for _ in $(seq 100); do
    [[ -e "$work/a" && -e "$work/b" ]] && break
    sleep 0.1
done
[[ -e "$work/a" && -e "$work/b" ]] || fail "socat did not make the pty pair"

"$wine" wineboot --init >"$work/wineboot.log" 2>&1 || fail "wineboot --init failed"

# The README's recipe, for COM1 and the pty's end a.
"$wine" reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$work/a" /f >"$work/reg.log" 2>&1 ||
    fail "reg add failed"
"$wineserver" -k

# The next start maps the ports. COM1 is looked at before a program opens it,
# so that a port mapped elsewhere (/dev/ttyS0, a real serial line) is never
# written to.
"$wine" reg query 'HKLM\Software\Wine\Ports' >"$work/reg.log" 2>&1 || fail "reg query failed"
com1=$(readlink "$WINEPREFIX/dosdevices/com1" || true)
[[ "$com1" == "$work/a" ]] ||
    fail "at the next start COM1 is '${com1:-no link}', not the pty $work/a: wine did not map it from HKLM\\Software\\Wine\\Ports"
"$wineserver" -k

cat >"$work/Quorvane.ini" <<'EOF'
[QUORVANE]
OutputDriveAndPath=C:\windows\temp
WatchDogTimerAddressInHex=NONE
DiskWriteAndStatsFrequencyInMinutes=15

[COM1]
InstrumentType=Hygrometer
StartupInitializationFunction=NONE
AcquisitionInitializationFunction=NONE
Baud=9600
Parity=N
DataBits=8
StopBits=1
DoStats=NO
StringTerminationCharacter=13
LeadingTokenCharactersToStrip=0
TokenIndicesForStatistics=NONE
TokenLabelsForStatistics=NONE
ErrorCheckingTokenIndices=NONE
ErrorValuesPerTokenIndex=NONE
EOF

# What comes out at b, as it comes.
cat <"$work/b" >"$work/b.out" &
pids+=($!)

# The first program of a new wine server, as a user's logger would be. Each of
# its steps is bounded (the start of wine, the send, a minute for the line), so
# waiting for "ready" or its end is waiting for one or the other to happen.
"$wine" "$cli" dump --ini "Z:${work//\//\\}\\Quorvane.ini" COM1 \
    --send 'ready\n' --read-line LF 60000 >"$work/dump.log" 2>&1 &
dump=$!
pids+=("$dump")
while ! grep -qx ready "$work/b.out" && kill -0 "$dump" 2>/dev/null; do
    sleep 0.1
done
grep -qx ready "$work/b.out" || fail "nothing that quorvane-cli sent to COM1 came out of the pty pair"

line="21.5 %RH via COM1"
printf '%s\n' "$line" >"$work/b"
status=0
wait "$dump" || status=$?
[[ $status -eq 0 ]] || fail "quorvane-cli dump ended with status $status"
grep -qxF "read-line: status 0, ${#line} characters: \"$line\"" "$work/dump.log" ||
    fail "quorvane-cli did not read the line written into the pty pair"
echo "COM1 -> $com1: quorvane-cli dump read \"$line\""
