#!/usr/bin/env bash
# Runs a Windows program that opens windows, under wine, on a virtual X server
# of its own: a 1024 x 768 screen in 24-bit colour, no window manager.
#   wine-gui-run.sh WINE-RUN PROGRAM [ARGUMENTS...]
# It gets a wine prefix (and so a wine server and desktop) of its own: a wine
# desktop that another test started without a display cannot show windows.
# The prefix is prepared without a display (with one, wine would ask whether
# to install its .NET and HTML engines), and wine is told to manage the
# windows itself, or every window that is hidden waits two seconds for a
# window manager that is not there.
set -euo pipefail
wine_run=$1
shift
export WINEPREFIX="${WINEPREFIX:-${TMPDIR:-/tmp}/quorvane-wineprefix}-windows"
export WINEDEBUG="${WINEDEBUG:--all}"
"$wine_run" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
/usr/lib/wine/wineserver -w
status=0
xvfb-run -a -s "-screen 0 1024x768x24" "$wine_run" "$@" || status=$?
/usr/lib/wine/wineserver -k 2>/dev/null || true
exit "$status"
