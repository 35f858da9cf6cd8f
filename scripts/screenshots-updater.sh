#!/usr/bin/env bash
# A picture of vgupdate's window in the middle of an update, on the offscreen platform:
# a throw-away installation and package, the window grabbed as the new files go in.
# usage: scripts/screenshots-updater.sh [BUILD_DIR] [OUT_DIR]   (defaults: build, docs/screenshots);
# scripts/screenshots.sh runs it too, into its own directory.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
out=${2:-$root/docs/screenshots}
mkdir -p "$out"
out=$(cd "$out" && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/inst" "$work/pkg" "$work/reg" "$work/run"
chmod 700 "$work/run"
cp "$build/bin/vgproxy" "$build/bin/veilgate.cfg" "$work/inst/"
cp "$build/bin/vgproxy" "$build/bin/vgupdate" "$work/pkg/"
printf 'new build' >>"$work/pkg/vgproxy"

# The tunnel is not running here; NUD keeps the medium out of it. The restarted tunnel gets a
# free-standing settings file of its own and is stopped by its process id afterwards.
cd "$work/pkg"
env VG_REGISTRY_DIR="$work/reg" XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=offscreen \
  VG_UPDATE_GRAB="$out/vgupdate-window.png" VG_UPDATE_GRAB_AT=9 \
  timeout 60 ./vgupdate NUD --install-dir "$work/inst" >"$work/out.txt" || true
pid=$(sed -n "s/^vgupdate: vgproxy started, process \([0-9]*\)$/\1/p" "$work/out.txt")
[ -n "$pid" ] && kill "$pid"
ls -l "$out/vgupdate-window.png"
