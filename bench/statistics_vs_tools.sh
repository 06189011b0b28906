#!/usr/bin/env bash
# The diagnostic statistics beside general tools, in one run on one file: a
# generated hour of a fast instrument (921600 baud, about 330 MB of lines of
# eight blank-separated fields), summarised as count, mean and population
# standard deviation of fields 2 to 8 by
#   - quorvane's statistics (quorvane-stats-bench --file), analysis alone and
#     the whole process (reading the file included),
#   - awk (the system's default awk, and gawk when installed),
#   - GNU datamash.
# Every tool reads the same file from the page cache. The figures are processor
# time (user + system), the best of three runs, so that a busy machine spoils
# them less than it would wall time; wall time is shown beside them.
# Usage: bench/statistics_vs_tools.sh [BUILD_DIR] [MEGABYTES]
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/release}
megabytes=${2:-}
bench="$build/bench/quorvane-stats-bench"
if [[ ! -x "$bench" ]]; then
    echo "missing $bench: cmake --preset release && cmake --build --preset release --target quorvane-stats-bench" >&2
    exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
hour="$work/hour.txt"
if [[ -n "$megabytes" ]]; then
    "$bench" --write "$hour" --megabytes "$megabytes"
else
    "$bench" --write "$hour"
fi
bytes=$(stat -c %s "$hour")
cat "$hour" >/dev/null  # into the page cache

awk_program='
{ for (f = 2; f <= 8; f++) { v = $f + 0; n[f]++; s[f] += v; q[f] += v * v } }
END {
    for (f = 2; f <= 8; f++) {
        m = s[f] / n[f]; var = q[f] / n[f] - m * m; if (var < 0) var = 0
        printf "field %d: count %d mean %g sd %g\n", f, n[f], m, sqrt(var)
    }
}'

# best_of CMD...: runs the command three times; prints "cpu wall" of the run
# with the least processor time.
best_of() {
    local best="" best_wall=""
    for _ in 1 2 3; do
        local timing real user sys cpu
        timing=$({ TIMEFORMAT='%R %U %S'; time "$@" >"$work/out" 2>&1; } 2>&1)
        read -r real user sys <<<"$timing"
        cpu=$(echo "$user + $sys" | bc -l)
        if [[ -z "$best" ]] || (($(echo "$cpu < $best" | bc -l))); then
            best=$cpu
            best_wall=$real
        fi
    done
    echo "$best $best_wall"
}

mbps() { echo "scale=1; $bytes / 1000000 / $1" | bc -l; }

echo "file: $bytes bytes ($(echo "scale=1; $bytes / 1000000" | bc -l) MB)"
echo

"$bench" --file "$hour" --repeat 3 >"$work/ours"
ours_analysis=$(sed -n 's/^quorvane statistics: cpu best \([0-9.]*\) s.*wall best \([0-9.]*\) s.*/\1 \2/p' "$work/ours")
ours_process=$(best_of "$bench" --file "$hour" --repeat 1)
cp "$work/out" "$work/ours_rows"

datamash_on_hour() {
    datamash -W count 2 mean 2 pstdev 2 mean 3 pstdev 3 mean 4 pstdev 4 \
        mean 5 pstdev 5 mean 6 pstdev 6 mean 7 pstdev 7 mean 8 pstdev 8 <"$hour"
}

declare -a names=() times=()
for tool in mawk gawk; do
    if command -v "$tool" >/dev/null; then
        names+=("$tool")
        times+=("$(best_of "$tool" "$awk_program" "$hour")")
        cp "$work/out" "$work/awk_rows"
    fi
done
if ((${#names[@]} == 0)); then
    names+=("awk")
    times+=("$(best_of awk "$awk_program" "$hour")")
    cp "$work/out" "$work/awk_rows"
fi
if command -v datamash >/dev/null; then
    names+=("datamash")
    times+=("$(best_of datamash_on_hour)")
    cp "$work/out" "$work/datamash_rows"
else
    echo "(datamash not installed: scripts/install-deps.sh installs it)"
fi

# row NAME "CPU WALL": one line of the table, the ratio against our analysis.
reference=${ours_analysis%% *}
row() {
    local cpu=${2%% *} wall=${2##* }
    printf '%-34s %9.3f %9s %9.3f %12s\n' "$1" "$cpu" "$(mbps "$cpu")" "$wall" \
        "$(echo "scale=1; $cpu / $reference" | bc -l)"
}
printf '%-34s %9s %9s %9s %12s\n' "tool" "cpu s" "MB/s" "wall s" "cpu ratio"
row "quorvane statistics (analysis)" "$ours_analysis"
row "quorvane statistics (whole run)" "$ours_process"
for i in "${!names[@]}"; do
    row "${names[$i]}" "${times[$i]}"
done

echo
echo "figures (the same fields by each tool):"
echo "-- quorvane (rows: samples, mean, deviation, ...)"
grep '^bench' "$work/ours_rows"
echo "-- awk"
cat "$work/awk_rows"
if [[ -f "$work/datamash_rows" ]]; then
    echo "-- datamash (count, then mean and pstdev of each field)"
    cat "$work/datamash_rows"
fi
