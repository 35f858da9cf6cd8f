#!/usr/bin/env bash
# Protected requests through vgproxy + vggate against nginx on loopback, next to plain requests
# through the same vgproxy in the same run (wrk, keep-alive):
#   1. 1 KiB answers at 1 and 16 connections: plain, emulation engine, "OpenSSL" engine;
#   2. a 1 MiB answer (base64 text of random bytes) at 1 connection in each compress mode, MB/s.
# Every answer counted must be a 200; the script fails otherwise.
#   bench/protected_bench.sh [BUILD_DIR] [SECONDS_PER_RUN]
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD=${1:-build}
DURATION=${2:-5}
BIN=$(cd "$BUILD/bin" && pwd)
source bench/lib.sh
need_tools nginx wrk curl python3 openssl
[ -x "$BIN/vgproxy" ] && [ -x "$BIN/vggate" ] || { echo "build vgproxy and vggate first"; exit 1; }
ulimit -n 8192 2>/dev/null || true

WEB_PORT=$(free_port)
mkdir -p "$WORK/www" "$WORK/run" "$WORK/logs"
head -c 1024 /dev/urandom >"$WORK/www/1k"
# Written whole before it is cut: cutting a pipe would end base64 with SIGPIPE, which pipefail
# turns into a silent exit of the script.
head -c 786432 /dev/urandom | base64 -w 76 >"$WORK/1m.b64"
head -c 1048576 "$WORK/1m.b64" >"$WORK/www/1m"
start_nginx "$WEB_PORT"

bash scripts/make-demo-pki.sh "$WORK/pki" >/dev/null || { echo "demo keys could not be made"; exit 1; }
RECORDS=""
N=0
start_gate() { # host engine compress engine-params
  local port; port=$(free_port); N=$((N + 1))
  printf '[Gateway]\nListen=127.0.0.1:%s\nEngine=%s\nCompress=%s\n[Engine]\n%s\n[Backends]\n%s=127.0.0.1:%s\n' \
    "$port" "$2" "$3" "$4" "$1" "$WEB_PORT" >"$WORK/gate$N.ini"
  LD_LIBRARY_PATH=$BIN "$BIN/vggate" --config "$WORK/gate$N.ini" 2>"$WORK/gate$N.log" & PIDS+=($!)
  wait_port "$port" || { cat "$WORK/gate$N.log"; exit 1; }
  RECORDS+=$(printf '\n[Client\\Web servers\\s%s]\nweb server host=%s\nveilgate location=127.0.0.1:%s\ncrypto engine=%s\ncompress mode=%s\n[Client\\Web servers\\s%s\\Crypto engine]\n%s\n' \
    "$N" "$1" "$port" "$2" "$3" "$N" "$5")
}
EMU_GATE=$'UID=gate-1\nPartner=client-1'
EMU_CLIENT=$'UID=client-1\nPartner=gate-1'
P=$WORK/pki
SSL_GATE="CertificateFile=$P/gateway.pem
PrivateKeyFile=$P/gateway.key
CAFile=$P/ca.pem
SubscribersDir=$P/subscribers
PartnerUID=vg-client"
SSL_CLIENT="CertificateFile=$P/client.pem
PrivateKeyFile=$P/client.key
CAFile=$P/ca.pem
SubscribersDir=$P/subscribers
PartnerUID=vg-gateway"
for m in 0 1 2; do start_gate "emu$m.bench.test" Emulation/1.0 "$m" "$EMU_GATE" "$EMU_CLIENT"; done
start_gate ssl.bench.test OpenSSL 1 "$SSL_GATE" "$SSL_CLIENT"

PROXY_PORT=$(free_port)
sed -e "s/^Self TCP port=.*/Self TCP port=$PROXY_PORT/" -e "s|^Log-file name=.*|Log-file name=$WORK/logs|" \
    -e "s/^Log flags=.*/Log flags=4/" "$BIN/veilgate.cfg" >"$WORK/veilgate.cfg"
printf '%s\n' "$RECORDS" >>"$WORK/veilgate.cfg"
XDG_RUNTIME_DIR=$WORK/run VG_REGISTRY_DIR=$WORK/run/registry DISPLAY= WAYLAND_DISPLAY= LD_LIBRARY_PATH=$BIN \
  "$BIN/vgproxy" --headless --config "$WORK/veilgate.cfg" >"$WORK/proxy.log" 2>&1 & PIDS+=($!)
wait_port "$PROXY_PORT" || { cat "$WORK/proxy.log"; exit 1; }

cat >"$WORK/count.lua" <<'EOF'
local threads = {}
local target = os.getenv("BENCH_TARGET")
function setup(thread) table.insert(threads, thread) end
function init(args) bad = 0; ok = 0; req = wrk.format(nil, target) end
function request() return req end
function response(status, headers, body) if status == 200 then ok = ok + 1 else bad = bad + 1 end end
function done(summary, latency, requests)
  local b, o = 0, 0
  for _, t in ipairs(threads) do b = b + t:get("bad"); o = o + t:get("ok") end
  io.write(string.format("answers_ok=%d\nanswers_bad=%d\nerrors=%d\n", o, b,
    summary.errors.connect + summary.errors.read + summary.errors.write + summary.errors.status + summary.errors.timeout))
end
EOF
fail=0
run_wrk() { # connections url
  local threads=$(( $1 < 2 ? 1 : 2 )) out rps ok bad errors
  out=$(BENCH_TARGET="$2" wrk -t"$threads" -c"$1" -d"${DURATION}s" --timeout 10s -s "$WORK/count.lua" "http://127.0.0.1:$PROXY_PORT/")
  rps=$(awk '/Requests\/sec/ { print $2 }' <<<"$out")
  ok=$(awk -F= '/answers_ok/ { print $2 }' <<<"$out")
  bad=$(awk -F= '/answers_bad/ { print $2 }' <<<"$out")
  errors=$(awk -F= '/^errors/ { print $2 }' <<<"$out")
  if [ "${bad:-1}" != 0 ] || [ "${errors:-1}" != 0 ] || [ "${ok:-0}" = 0 ]; then
    echo "wrk c=$1 $2: $bad answers were not 200, $errors socket errors" >&2; echo "$out" >&2; fail=1
  fi
  echo "$rps"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

# The first protected request of each record agrees its key outside the measurement.
for h in emu0 emu1 emu2 ssl; do curl -s -o /dev/null -x "127.0.0.1:$PROXY_PORT" "http://$h.bench.test/1k"; done

echo "== 1 KiB answers, keep-alive (wrk, ${DURATION}s per run) =="
for c in 1 16; do
  plain=$(run_wrk "$c" "http://127.0.0.1:$WEB_PORT/1k")
  emu=$(run_wrk "$c" "http://emu1.bench.test/1k")
  ssl=$(run_wrk "$c" "http://ssl.bench.test/1k")
  echo "  $c connections: plain through vgproxy $plain req/s; protected, emulation $emu req/s (ratio $(ratio "$emu" "$plain")); protected, OpenSSL $ssl req/s (ratio $(ratio "$ssl" "$plain"))"
  [ "$c" = 16 ] && R16=$(ratio "$emu" "$plain")
done
if awk -v r="$R16" 'BEGIN { exit !(r >= 0.5) }'; then echo "  target emulation/plain at 16 connections >= 0.5: met ($R16)"
else echo "  target emulation/plain at 16 connections >= 0.5: MISSED ($R16)"; fi

echo "== 1 MiB answer, 1 connection, MB/s =="
plain=$(run_wrk 1 "http://127.0.0.1:$WEB_PORT/1m")
echo "  plain through vgproxy: $(awk -v r="$plain" 'BEGIN { printf "%.1f", r * 1.048576 }') MB/s"
for m in 0 1 2; do
  rps=$(run_wrk 1 "http://emu$m.bench.test/1m")
  echo "  protected, emulation, compress mode $m: $(awk -v r="$rps" 'BEGIN { printf "%.1f", r * 1.048576 }') MB/s"
done
exit $fail
