#!/usr/bin/env bash
# The demo: installs the dependencies, builds, and starts on loopback a small web site (demo/),
# vggate in front of it and vgproxy (a tray program when there is a display, else headless)
# protecting it under the host name demo.veilgate.test (the tunnel routes it; no DNS needed).
# Other hosts are proxied plainly.
# Runs until Ctrl+C, then stops what it started.
#   DEMO_PROXY_PORT (default 1030), DEMO_GATE_PORT (8591), DEMO_WEB_PORT (a free port)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# The programs and modules the demo runs (scripts/test.sh builds the tests).
cmake --build build -j "$(nproc)" --target vgproxy vggate vgtool cipherhub engmod01 engmod10 default_settings
BIN=$ROOT/build/bin
PATH=$PATH:/usr/sbin
PROXY_PORT=${DEMO_PROXY_PORT:-1030}
GATE_PORT=${DEMO_GATE_PORT:-8591}
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
wait_port() { for _ in $(seq 200); do (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0; sleep 0.05; done; return 1; }
WEB_PORT=${DEMO_WEB_PORT:-$(free_port)}
STATE=$ROOT/build/demo
rm -rf "$STATE/nginx" "$STATE/logs"
mkdir -p "$STATE/nginx" "$STATE/logs"

PIDS=()
stop_all() {
  trap - INT TERM EXIT
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${PIDS[@]}"; do wait "$p" 2>/dev/null || true; done
  echo
  echo "Demo stopped."
}
trap stop_all EXIT
trap 'exit 0' INT TERM

# The "OpenSSL" engine with a demo PKI of our own; the emulation engine when that cannot be set up.
ENGINE=OpenSSL
if ! "$BIN/vgtool" engines 2>/dev/null | grep -q 'OpenSSL'; then
  ENGINE=Emulation/1.0; WHY="the OpenSSL engine is not available"
elif [ ! -s "$STATE/pki/gateway.pem" ] && ! bash scripts/make-demo-pki.sh "$STATE/pki" >"$STATE/pki.log" 2>&1; then
  ENGINE=Emulation/1.0; WHY="the demo keys could not be generated (see $STATE/pki.log)"
fi
if [ "$ENGINE" = OpenSSL ]; then
  GATE_ENGINE="CertificateFile=$STATE/pki/gateway.pem
PrivateKeyFile=$STATE/pki/gateway.key
CAFile=$STATE/pki/ca.pem
SubscribersDir=$STATE/pki/subscribers
PartnerUID=vg-client"
  CLIENT_ENGINE="CertificateFile=$STATE/pki/client.pem
PrivateKeyFile=$STATE/pki/client.key
CAFile=$STATE/pki/ca.pem
SubscribersDir=$STATE/pki/subscribers
PartnerUID=vg-gateway"
else
  echo "NOTE: using the emulation engine (no real cryptography): $WHY."
  GATE_ENGINE=$'UID=demo-gate\nPartner=demo-client'
  CLIENT_ENGINE=$'UID=demo-client\nPartner=demo-gate'
fi

# The web site: nginx when it is there, else Python's own small server.
if command -v nginx >/dev/null; then
  chmod o+rx "$ROOT/demo" 2>/dev/null || true
  cat >"$STATE/nginx/nginx.conf" <<EOF
worker_processes 1;
daemon off;
pid $STATE/nginx/nginx.pid;
error_log $STATE/nginx/error.log;
events { worker_connections 256; }
http {
  access_log $STATE/nginx/access.log;
  types { text/html html; text/css css; image/png png; }
  server { listen 127.0.0.1:$WEB_PORT; root $ROOT/demo; index index.html; }
}
EOF
  nginx -c "$STATE/nginx/nginx.conf" -p "$STATE/nginx" & PIDS+=($!)
else
  python3 -m http.server --bind 127.0.0.1 --directory "$ROOT/demo" "$WEB_PORT" >"$STATE/web.log" 2>&1 & PIDS+=($!)
fi
wait_port "$WEB_PORT" || { echo "demo: the web site did not start"; exit 1; }

cat >"$STATE/gate.ini" <<EOF
[Gateway]
Listen=127.0.0.1:$GATE_PORT
Engine=$ENGINE
Compress=2
[Engine]
$GATE_ENGINE
[Backends]
demo.veilgate.test=127.0.0.1:$WEB_PORT
EOF
LD_LIBRARY_PATH=$BIN "$BIN/vggate" --config "$STATE/gate.ini" 2>"$STATE/gate.log" & PIDS+=($!)
wait_port "$GATE_PORT" || { echo "demo: vggate did not start:"; cat "$STATE/gate.log"; exit 1; }

sed -e "s/^Self TCP port=.*/Self TCP port=$PROXY_PORT/" -e "s|^Log-file name=.*|Log-file name=$STATE/logs|" \
  "$BIN/veilgate.cfg" >"$STATE/veilgate.cfg"
cat >>"$STATE/veilgate.cfg" <<EOF

[Client\\Web servers\\s1]
web server host=demo.veilgate.test
veilgate location=127.0.0.1:$GATE_PORT
crypto engine=$ENGINE
compress mode=2
[Client\\Web servers\\s1\\Crypto engine]
$CLIENT_ENGINE
EOF
LD_LIBRARY_PATH=$BIN "$BIN/vgproxy" --config "$STATE/veilgate.cfg" >"$STATE/vgproxy.log" 2>&1 & PIDS+=($!)
wait_port "$PROXY_PORT" || { echo "demo: vgproxy did not start:"; cat "$STATE/vgproxy.log"; exit 1; }

cat <<EOF

QS-Veilgate demo is running (engine "$ENGINE"):
  web site   http://127.0.0.1:$WEB_PORT/ (pages from demo/)
  vggate     127.0.0.1:$GATE_PORT, log: $STATE/gate.log
  vgproxy    127.0.0.1:$PROXY_PORT, settings: $STATE/veilgate.cfg, logs: $STATE/logs/

Try the protected site through the tunnel:
  curl -x 127.0.0.1:$PROXY_PORT http://demo.veilgate.test/
Other hosts go through the tunnel plainly:
  curl -x 127.0.0.1:$PROXY_PORT http://example.com/
In a browser: set the HTTP proxy to 127.0.0.1 port $PROXY_PORT and open http://demo.veilgate.test/
Each protected exchange adds a line to $STATE/gate.log.

Ctrl+C stops the demo.
EOF
while :; do
  for p in "${PIDS[@]}"; do kill -0 "$p" 2>/dev/null || { echo "demo: a process ended (pid $p); stopping"; exit 1; }; done
  sleep 1
done
