#!/usr/bin/env bash
# Runs a Windows test executable under wine64, in a prefix of its own.
# Plain `wine` picks the 32-bit loader, which cannot run here.
export WINEPREFIX="${WINEPREFIX:-${TMPDIR:-/tmp}/quorvane-wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
exec /usr/lib/wine/wine64 "$@"
