#!/usr/bin/env bash
# Runs a Windows program under Wine: the tests of the Windows build use it as their emulator.
# WINEPREFIX names the prefix (default ~/.wine); VG_WINE (wine64 of Debian's package by default)
# names the loader. A prefix is prepared once, under a lock so that parallel tests wait for it:
# made, and given Wine's null display driver, so that hidden top-level windows exist (and are
# found by class name) without an X server.
set -euo pipefail
WINE=${VG_WINE:-/usr/lib/wine/wine64}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
PREFIX=${WINEPREFIX:-$HOME/.wine}
if [ ! -e "$PREFIX/.vg-ready" ]; then
  mkdir -p "$(dirname "$PREFIX")"
  exec 9>"$PREFIX.lock"
  flock 9
  if [ ! -e "$PREFIX/.vg-ready" ]; then
    "$WINE" wineboot.exe --init >/dev/null 2>&1 || true
    "$WINE" reg.exe add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    # The setting is read when the prefix's processes start: let the first ones end.
    "${WINE%/*}/wineserver64" -w 2>/dev/null || true
    touch "$PREFIX/.vg-ready"
  fi
  exec 9>&-
fi
exec "$WINE" "$@"
