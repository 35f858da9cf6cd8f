#!/usr/bin/env bash
# The Windows build end to end under Wine, against Linux peers on loopback:
#   vgproxy.exe --headless relays a plain GET and a CONNECT for curl, and a protected GET through
#   vggate (Linux build) with the emulation engine; a second vgproxy.exe ends silently; the quit
#   message posted through FindWindowA/PostMessageA (tests/vg_postquit.exe) ends the first one.
#   scripts/test-windows-e2e.sh build build-win
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
LINUX_BIN=$ROOT/$1/bin
WIN_BUILD=$ROOT/$2
WORK=$(mktemp -d)
PIDS=()
cleanup() {
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${PIDS[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$WORK"
}
trap cleanup EXIT
fail() {
  echo "windows e2e: $*" >&2
  for log in "$WORK"/*.log; do echo "--- $log" >&2; cat "$log" >&2 || true; done
  exit 1
}
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
wait_port() { for _ in $(seq 400); do (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0; sleep 0.05; done; return 1; }
wine_run() { bash scripts/wine-run.sh "$@"; }

WEB_PORT=$(free_port)
GATE_PORT=$(free_port)
PROXY_PORT=$(free_port)

# A web server with the demo pages, and vggate in front of it for the protected host.
python3 -m http.server --bind 127.0.0.1 --directory demo "$WEB_PORT" >"$WORK/web.log" 2>&1 &
PIDS+=($!)
cat >"$WORK/gate.ini" <<INI
[Gateway]
Listen=127.0.0.1:$GATE_PORT
Engine=Emulation/1.0
Compress=2
[Engine]
UID=win-gate
Partner=win-client
[Backends]
protected.veilgate.test=127.0.0.1:$WEB_PORT
INI
"$LINUX_BIN/vggate" --config "$WORK/gate.ini" 2>"$WORK/gate.log" &
PIDS+=($!)
wait_port "$WEB_PORT" || fail "the web server did not start"
wait_port "$GATE_PORT" || fail "vggate did not start"

# The Windows installation: programs, modules and settings together.
INSTALL=$WORK/install
mkdir -p "$INSTALL/logs"
cp "$WIN_BUILD"/bin/vgproxy.exe "$WIN_BUILD"/bin/cipherhub.dll "$WIN_BUILD"/bin/engmod01.dll "$INSTALL/"
# Wine's drive Z: is the Linux root; the log directory is named the Windows way.
WIN_LOGS="Z:$(printf '%s' "$INSTALL/logs" | tr / '\\')"
sed -e "s/^Self TCP port=.*/Self TCP port=$PROXY_PORT/" -e "s|^Log-file name=.*|Log-file name=${WIN_LOGS//\\/\\\\}|" \
  "$WIN_BUILD/bin/veilgate.cfg" >"$INSTALL/veilgate.cfg"
cat >>"$INSTALL/veilgate.cfg" <<CFG

[Client\\Web servers\\s1]
web server host=protected.veilgate.test
veilgate location=127.0.0.1:$GATE_PORT
crypto engine=Emulation/1.0
compress mode=2
[Client\\Web servers\\s1\\Crypto engine]
UID=win-client
Partner=win-gate
CFG

wine_run "$INSTALL/vgproxy.exe" --headless >"$WORK/vgproxy.log" 2>&1 &
TUNNEL=$!
PIDS+=($TUNNEL)
wait_port "$PROXY_PORT" || fail "vgproxy.exe did not listen on $PROXY_PORT"

page() { curl -sS --max-time 20 -x "127.0.0.1:$PROXY_PORT" "$@"; }
page "http://127.0.0.1:$WEB_PORT/index.html" | cmp -s - demo/index.html || fail "plain GET through vgproxy.exe"
page -p "http://127.0.0.1:$WEB_PORT/about.html" | cmp -s - demo/about.html || fail "GET through a CONNECT tunnel of vgproxy.exe"
page "http://protected.veilgate.test/index.html" | cmp -s - demo/index.html || fail "protected GET through vgproxy.exe and vggate"
grep -q "protected.veilgate.test" "$WORK/gate.log" || fail "the protected GET did not pass through vggate"

# A second instance ends at once, silently and with success.
second=$(timeout 60 bash scripts/wine-run.sh "$INSTALL/vgproxy.exe" --headless 2>&1) || fail "a second vgproxy.exe failed: $second"
[ -z "$second" ] || fail "a second vgproxy.exe said: $second"
kill -0 "$TUNNEL" 2>/dev/null || fail "the first vgproxy.exe ended when the second started"

# The updater's quit message unloads it cleanly.
wine_run "$WIN_BUILD/tests/vg_postquit.exe" TQSVeilgateAboutForm 10000 || fail "vg_postquit.exe: status $?"
for _ in $(seq 200); do kill -0 "$TUNNEL" 2>/dev/null || break; sleep 0.05; done
kill -0 "$TUNNEL" 2>/dev/null && fail "vgproxy.exe still runs after the quit message"
status=0
wait "$TUNNEL" || status=$?
[ "$status" = 0 ] || fail "vgproxy.exe ended with status $status after the quit message"
echo "windows e2e: plain GET, CONNECT, protected GET, second instance and quit message all passed"
