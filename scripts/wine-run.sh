#!/usr/bin/env bash
# Runs a Windows program under Wine: the tests of the Windows build use it as their emulator.
# WINEPREFIX may name a prefix (a new one is made on first use); VG_WINE (wine64 of Debian's
# package by default) names the loader.
set -euo pipefail
WINE=${VG_WINE:-/usr/lib/wine/wine64}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# Without an X display, windows (the hidden instance window among them) need Wine's null graphics
# driver; it is chosen once per prefix, and takes effect once the prefix's server has ended.
if [ -z "${DISPLAY:-}" ]; then
  prefix=${WINEPREFIX:-$HOME/.wine}
  if [ ! -e "$prefix/.vg-null-graphics" ] &&
    "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1; then
    "${VG_WINESERVER:-$(dirname "$WINE")/wineserver}" -w || true
    touch "$prefix/.vg-null-graphics"
  fi
fi
exec "$WINE" "$@"
