#!/usr/bin/env bash
# Pictures of the tray program's windows under a virtual X server with a tray host:
#   scripts/screenshots.sh [BUILD_DIR] [OUTDIR]
# OUTDIR (default BUILD_DIR/screenshots) receives tray-menu.png (screen with the opened tray
# menu), about.png (the about window), prompts.png (screen with the password window and the
# key-medium prompt, both asked for by the emulation engine while it signs a protected request),
# password.png and touch-memory.png (those two windows alone), about-no-tray.png (the about
# window with the menu's commands when no tray host runs), screen-*.png for context, and
# vgupdate-window.png (the updater's window in the middle of an update), keys-test.png (the
# keys test window as a run with one failing step ends), and every page of the setup dialogs:
# setup-*.png (the tunnel setup dialog, also setup-with-server-*.png with a server listed),
# server-client-*.png (the server dialog the tray opens) and server-*.png (its general variant).
# Everything runs on loopback with free ports and a private runtime directory.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/build}" && pwd)
OUT=${2:-$BUILD/screenshots}
BIN=$BUILD/bin
for tool in xvfb-run trayer import xdotool python3 curl; do
  command -v "$tool" >/dev/null || { echo "screenshots: $tool is missing (bash scripts/deps.sh)" >&2; exit 1; }
done
[ -x "$BIN/vgproxy" ] || { echo "screenshots: build the programs first ($BIN/vgproxy is missing)" >&2; exit 1; }
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)

if [ -z "${VG_SCREENSHOTS_INNER:-}" ]; then
  export VG_SCREENSHOTS_INNER=1
  exec xvfb-run -a -s '-screen 0 1024x640x24' bash "$0" "$BUILD" "$OUT"
fi

WORK=$(mktemp -d)
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
wait_port() { for _ in $(seq 200); do (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0; sleep 0.05; done; return 1; }
# Waits until a visible window whose name matches appears; prints its id.
wait_window() {
  for _ in $(seq 100); do
    local id
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  echo "screenshots: no window named '$1' appeared" >&2
  return 1
}
shot() { sleep 0.4; import -window "$1" "$OUT/$2"; echo "screenshots: $OUT/$2"; }

mkdir -p "$WORK/rt" "$WORK/web" && chmod 700 "$WORK/rt"
export XDG_RUNTIME_DIR=$WORK/rt VG_REGISTRY_DIR=$WORK/registry
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
echo "protected page" >"$WORK/web/index.html"
WEB_PORT=$(free_port); GATE_PORT=$(free_port); PROXY_PORT=$(free_port)
HOST=shots.veilgate.test

python3 -m http.server --bind 127.0.0.1 --directory "$WORK/web" "$WEB_PORT" >"$WORK/web.log" 2>&1 & PIDS+=($!)
cat >"$WORK/gate.ini" <<INI
[Gateway]
Listen=127.0.0.1:$GATE_PORT
Engine=Emulation/1.0
[Engine]
UID=gate-1
Partner=client-1
[Backends]
$HOST=127.0.0.1:$WEB_PORT
INI
"$BIN/vggate" --config "$WORK/gate.ini" >"$WORK/gate.log" 2>&1 & PIDS+=($!)

# The emulation engine asks for a password and the key medium at its first signature.
sed -e "s/^Self TCP port=.*/Self TCP port=$PROXY_PORT/" -e "s#^Log-file name=.*#Log-file name=$WORK/logs#" \
  "$BIN/veilgate.cfg" >"$WORK/veilgate.cfg"
cat >>"$WORK/veilgate.cfg" <<CFG

[Client\\Web servers\\s1]
web server host=$HOST
veilgate location=127.0.0.1:$GATE_PORT
crypto engine=Emulation/1.0
[Client\\Web servers\\s1\\Crypto engine]
UID=client-1
Partner=gate-1
Password=demo
TouchMemory=1
CFG

trayer --edge top --align right --widthtype request --height 28 --SetDockType true --transparent false \
  --tint 0xd8d8d8 --expand false >"$WORK/trayer.log" 2>&1 & TRAYER=$!; PIDS+=($TRAYER)
sleep 1
"$BIN/vgproxy" --config "$WORK/veilgate.cfg" >"$WORK/vgproxy.log" 2>&1 & VGPROXY=$!; PIDS+=($VGPROXY)
wait_port "$PROXY_PORT" || { cat "$WORK/vgproxy.log"; exit 1; }
wait_port "$GATE_PORT" || { cat "$WORK/gate.log"; exit 1; }
sleep 1.5

# The icon sits alone in trayer's window: its middle is the icon.
TRAY=$(xdotool search --classname "^panel$" | head -1)
eval "$(xdotool getwindowgeometry --shell "$TRAY")"
ICON_X=$((X + WIDTH / 2)); ICON_Y=$((Y + HEIGHT / 2))
xdotool mousemove --sync "$ICON_X" "$ICON_Y"
sleep 0.5
xdotool click 3
sleep 1
shot root tray-menu.png
xdotool key Escape
sleep 0.3

xdotool mousemove --sync "$ICON_X" "$ICON_Y"
sleep 0.3
xdotool click --repeat 2 --delay 100 1
ABOUT=$(wait_window "QS-Veilgate \(")
shot "$ABOUT" about.png
shot root screen-about.png
xdotool windowunmap "$ABOUT" 2>/dev/null || true

curl -s -i --max-time 30 -x "127.0.0.1:$PROXY_PORT" "http://$HOST/" >"$WORK/page.txt" & CURL=$!
PASSWORD=$(wait_window "^QS-Veilgate$")
sleep 0.5
shot root prompts.png
# Both prompt windows carry the same title: the password window is the low one.
for id in $(xdotool search --onlyvisible --name "^QS-Veilgate$"); do
  eval "$(xdotool getwindowgeometry --shell "$id")"
  if [ "$HEIGHT" -lt 100 ]; then
    PASSWORD=$id
    shot "$id" password.png
  else
    shot "$id" touch-memory.png
  fi
done
# Typed characters show as X; then Cancel, and the engine's refusal reaches the browser as the
# tunnel's error page.
xdotool windowactivate --sync "$PASSWORD" 2>/dev/null || xdotool windowfocus --sync "$PASSWORD" 2>/dev/null || true
xdotool key --delay 60 d e m o
shot root screen-typed.png
xdotool key Escape
CURL_RC=0; wait "$CURL" || CURL_RC=$?
if grep -q "^HTTP/1.1 510" "$WORK/page.txt"; then
  echo "screenshots: the cancelled prompt gave the browser the tunnel's error page"
else
  echo "screenshots: no error page after the cancelled prompt (curl $CURL_RC):" >&2
  cat "$WORK/page.txt" "$WORK/vgproxy.log" "$WORK/gate.log" >&2
  exit 1
fi

# Without a tray host the about window carries the menu's commands.
kill "$VGPROXY" && wait "$VGPROXY" || true
kill "$TRAYER" && wait "$TRAYER" || true
VG_TRAY_WAIT_MS=0 "$BIN/vgproxy" --config "$WORK/veilgate.cfg" >"$WORK/vgproxy2.log" 2>&1 & PIDS+=($!)
ABOUT=$(wait_window "QS-Veilgate \(")
shot "$ABOUT" about-no-tray.png

# The updater's window in the middle of an update (offscreen, a throw-away installation).
bash "$ROOT/scripts/screenshots-updater.sh" "$BUILD" "$OUT"

# The keys test window as a run with one failing step ends (the error panel shows).
QT_QPA_PLATFORM=offscreen VG_GUI_SHOTS="$OUT" "$BUILD/tests/test_gui" --gtest_filter='KeysTestWindow.*' >/dev/null
echo "screenshots: $OUT/keys-test.png"

# Every page of the setup dialog and of both server dialog variants (offscreen).
QT_QPA_PLATFORM=offscreen VG_GUI_SHOTS="$OUT" "$BUILD/tests/test_gui" --gtest_filter='SetupDialog.*:ServerDialog.*' >/dev/null
for shot in "$OUT"/setup-*.png "$OUT"/server-*.png; do echo "screenshots: $shot"; done
