# A demo station, sourced by demo.sh and screenshot.sh: three simulated
# instruments on pseudo-terminals and a Quorvane.ini for them with one-minute
# periods, in a folder whose path has no "." (the logger refuses such paths).
#
#   demo_station SIM DIRECTORY     starts the instruments, writes DIRECTORY/Quorvane.ini
#                                  and DIRECTORY/data; sets demo_pids; prints nothing
#   demo_station_stop              ends the instruments

demo_pids=()

demo_station_stop() {
    for pid in "${demo_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    demo_pids=()
}

demo_station() {
    local sim=$1 demo=$2
    if [[ -d $demo ]]; then
        chmod -R u+w "$demo"  # the logger leaves its files read-only
        rm -rf "$demo"
    fi
    mkdir -p "$demo/data"

    # Three instruments, each behind a stable link name in the demo folder.
    "$sim" numeric --rate 2 --fields 6 --terminator crlf --link "$demo/tty-thermo" >/dev/null &
    demo_pids+=($!)
    "$sim" numeric --rate 5 --fields 3 --terminator lf --garble-every 25 --short-every 40 --seed 2 \
        --link "$demo/tty-wind" >/dev/null &
    demo_pids+=($!)
    "$sim" hygrometer --rate 1 --fields 4 --seed 3 --link "$demo/tty-ophir" >/dev/null &
    demo_pids+=($!)
    local link
    for link in tty-thermo tty-wind tty-ophir; do
        for _ in $(seq 50); do
            [[ -e $demo/$link ]] && break
            sleep 0.1
        done
        [[ -e $demo/$link ]] || { echo "quorvane-sim did not start ($link)" >&2; return 1; }
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
}
