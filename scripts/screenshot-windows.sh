#!/usr/bin/env bash
# Makes docs/windows-window.png, the picture of the Windows window in the
# README: quorvane.exe of the mingw-x86_64 build under wine, on a virtual X
# server, with the demo's three simulated instruments on COM1 to COM3, after
# its first status update (up to a minute and a bit).
set -euo pipefail
[[ -n "${QUORVANE_TRACE:-}" ]] && set -x
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset mingw-x86_64 >/dev/null
cmake --build --preset mingw-x86_64 --target quorvane
cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVANE_BUILD_TESTS=OFF \
    -DQUORVANE_WITH_QT=OFF >/dev/null
cmake --build build/demo --target quorvane-sim
program=$PWD/build/mingw-x86_64/src/gui/win32/quorvane.exe
sim=$PWD/build/demo/tools/sim/quorvane-sim
picture=$PWD/docs/windows-window.png

demo=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-screenshot-XXXXXX")
export WINEPREFIX=$demo/wineprefix
export WINEDEBUG=-all
source scripts/demo-station.sh
cleanup() {
    /usr/lib/wine/wineserver -k 2>/dev/null || true
    demo_station_stop
    chmod -R u+w "$demo"
    rm -rf "$demo"
}
trap cleanup EXIT
demo_station "$sim" "$demo/station"

# The ports are COM1 to COM3 of a wine prefix of its own; the output
# directory is reached through drive Z:. The prefix is made without a display
# (with one, wine would ask whether to install its .NET and HTML engines) and
# its server ended before the window starts: a wine desktop started without a
# display cannot show windows.
/usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
# Wine draws the window frames itself: there is no window manager.
/usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
# Links made by hand in dosdevices are reset by wine at its next start; the
# registry's port table holds (see the README).
instruments=(thermo wind ophir)
for i in 0 1 2; do
    /usr/lib/wine/wine64 reg add 'HKLM\Software\Wine\Ports' /v "COM$((i + 1))" /t REG_SZ \
        /d "$demo/station/tty-${instruments[i]}" /f >/dev/null 2>&1
done
/usr/lib/wine/wineserver -w
windows_output="Z:$(sed 's|/|\\|g' <<<"$demo/station/data")"
sed -i -e "s|^OutputDriveAndPath=.*|OutputDriveAndPath=${windows_output//\\/\\\\}|" \
    -e '/^Device=/d' "$demo/station/Quorvane.ini"

mkdir -p docs
# The window opens at (233, 0), 567 x 259, on a 1024-pixel screen.
cd "$demo/station"
xvfb-run -a -s "-screen 0 1024x768x24" bash ${QUORVANE_TRACE:+-x} -c '
    /usr/lib/wine/wine64 "$1" /AUTO &
    # The first status update comes at the next full minute.
    sleep $((65 - 10#$(date +%S)))
    import -window root -crop 567x259+233+0 +repage "$2"
    /usr/lib/wine/wineserver -k' screenshot "$program" "$picture"
echo "== $picture"
