#!/usr/bin/env bash
# Runs a Windows program under Wine: the tests of the Windows build use it as their emulator.
# WINEPREFIX may name a prefix (a new one is made on first use); VG_WINE (wine64 of Debian's
# package by default) names the loader.
set -euo pipefail
WINE=${VG_WINE:-/usr/lib/wine/wine64}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
exec "$WINE" "$@"
