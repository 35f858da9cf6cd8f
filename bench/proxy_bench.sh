#!/usr/bin/env bash
# vgproxy as a plain HTTP proxy against nginx on loopback, each figure next to the same
# measurement made directly in the same run:
#   1. 1 KiB answers with keep-alive at 1, 16 and 64 connections (wrk), requests per second;
#   2. a 100 MiB download (curl), MB/s, and vgproxy's peak resident memory during it;
#   3. CONNECT: 64-byte ping-pong round trips (median, 99th percentile) and bulk MB/s;
#   4. 500 idle keep-alive connections: vgproxy's resident memory.
# Every answer counted must be a 200; the script fails otherwise.
#   bench/proxy_bench.sh [BUILD_DIR] [SECONDS_PER_WRK_RUN]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
DURATION=${2:-5}
BIN=$BUILD/bin/vgproxy
CLIENT=$BUILD/bench/bench_proxy_client
source bench/lib.sh
need_tools nginx wrk curl python3
[ -x "$BIN" ] && [ -x "$CLIENT" ] || { echo "build vgproxy and bench_proxy_client first"; exit 1; }
ulimit -n 8192 2>/dev/null || true

# nginx with a 1 KiB and a 100 MiB file.
NGINX_PORT=$(free_port)
mkdir -p "$WORK/www"
head -c 1024 /dev/urandom >"$WORK/www/1k"
head -c $((100 * 1024 * 1024)) /dev/zero >"$WORK/www/100m"
start_nginx "$NGINX_PORT" "keepalive_timeout 120s; sendfile on;"

# vgproxy with the default settings on a port of its own.
PROXY_PORT=$(free_port)
sed "s/^Self TCP port=.*/Self TCP port=$PROXY_PORT/" "$BUILD/bin/veilgate.cfg" >"$WORK/veilgate.cfg"
VG_REGISTRY_DIR=$WORK/registry XDG_RUNTIME_DIR=$WORK DISPLAY= WAYLAND_DISPLAY= \
  "$BIN" --headless --config "$WORK/veilgate.cfg" >"$WORK/vgproxy.out" 2>&1 &
VG_PID=$!
PIDS+=($VG_PID)
wait_port "$PROXY_PORT" || { cat "$WORK/vgproxy.out"; exit 1; }

# wrk counts every answer; the script records those that were not a 200.
cat >"$WORK/count.lua" <<'EOF'
local threads = {}
local target = os.getenv("BENCH_TARGET")
function setup(thread) table.insert(threads, thread) end
function init(args) bad = 0; ok = 0; if target then req = wrk.format(nil, target) end end
function request() if req then return req end return wrk.request() end
function response(status, headers, body) if status == 200 then ok = ok + 1 else bad = bad + 1 end end
function done(summary, latency, requests)
  local b, o = 0, 0
  for _, t in ipairs(threads) do b = b + t:get("bad"); o = o + t:get("ok") end
  io.write(string.format("answers_ok=%d\nanswers_bad=%d\nerrors=%d\n", o, b,
    summary.errors.connect + summary.errors.read + summary.errors.write + summary.errors.status + summary.errors.timeout))
end
EOF

fail=0
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
check() { # label value op target
  if [[ "$2" =~ ^-?[0-9.]+$ ]] && awk -v v="$2" -v t="$4" -v op="$3" 'BEGIN { exit !((op == ">=") ? v >= t : v < t) }'; then
    echo "  target $1 $3 $4: met ($2)"
  else
    echo "  target $1 $3 $4: MISSED ($2)"
  fi
}
run_wrk() { # connections, through proxy (0/1)
  local c=$1 via=$2 out threads=$(( $1 < 2 ? 1 : 2 ))
  if [ "$via" = 1 ]; then
    out=$(BENCH_TARGET="http://127.0.0.1:$NGINX_PORT/1k" wrk -t"$threads" -c"$c" -d"${DURATION}s" -s "$WORK/count.lua" "http://127.0.0.1:$PROXY_PORT/")
  else
    out=$(wrk -t"$threads" -c"$c" -d"${DURATION}s" -s "$WORK/count.lua" "http://127.0.0.1:$NGINX_PORT/1k")
  fi
  local rps ok bad errors
  rps=$(awk '/Requests\/sec/ { print $2 }' <<<"$out")
  ok=$(awk -F= '/answers_ok/ { print $2 }' <<<"$out")
  bad=$(awk -F= '/answers_bad/ { print $2 }' <<<"$out")
  errors=$(awk -F= '/^errors/ { print $2 }' <<<"$out")
  if [ "${bad:-1}" != 0 ] || [ "${errors:-1}" != 0 ] || [ "${ok:-0}" = 0 ]; then
    echo "wrk run c=$c via=$via: $bad answers were not 200, $errors socket errors" >&2
    echo "$out" >&2
    fail=1
  fi
  echo "$rps"
}

echo "== 1 KiB answers, keep-alive (wrk, ${DURATION}s per run) =="
for c in 1 16 64; do
  direct=$(run_wrk "$c" 0)
  proxied=$(run_wrk "$c" 1)
  echo "  $c connections: direct $direct req/s, through vgproxy $proxied req/s, ratio $(ratio "$proxied" "$direct")"
  [ "$c" = 16 ] && R16=$(ratio "$proxied" "$direct")
done
check "16-connection ratio" "$R16" ">=" 0.35

echo "== 100 MiB download (curl, median of 3 alternating runs) =="
download() { # proxy args...
  curl -s -o /dev/null -w '%{http_code} %{speed_download} %{size_download}' "$@" "http://127.0.0.1:$NGINX_PORT/100m"
}
median3() { printf '%s\n' "$@" | sort -n | sed -n 2p; }
echo 5 >"/proc/$VG_PID/clear_refs" 2>/dev/null || true  # resets the peak resident size
speeds_d=(); speeds_p=()
for _ in 1 2 3; do
  read -r code_d speed_d size_d <<<"$(download)"
  read -r code_p speed_p size_p <<<"$(download -x "http://127.0.0.1:$PROXY_PORT")"
  [ "$code_d" = 200 ] && [ "$code_p" = 200 ] && [ "$size_d" = $((100 * 1024 * 1024)) ] &&
    [ "$size_p" = $((100 * 1024 * 1024)) ] || { echo "download failed: $code_d $code_p $size_d $size_p"; fail=1; }
  speeds_d+=("$speed_d"); speeds_p+=("$speed_p")
done
peak_kib=$(awk '/VmHWM/ { print $2 }' "/proc/$VG_PID/status")
mbs_d=$(awk -v s="$(median3 "${speeds_d[@]}")" 'BEGIN { printf "%.0f", s / 1048576 }')
mbs_p=$(awk -v s="$(median3 "${speeds_p[@]}")" 'BEGIN { printf "%.0f", s / 1048576 }')
peak_mib=$(awk -v k="$peak_kib" 'BEGIN { printf "%.1f", k / 1024 }')
echo "  direct $mbs_d MB/s, through vgproxy $mbs_p MB/s, ratio $(ratio "$mbs_p" "$mbs_d"); vgproxy peak resident $peak_mib MiB"
check "download ratio" "$(ratio "$mbs_p" "$mbs_d")" ">=" 0.5
check "peak resident MiB" "$peak_mib" "<" 30

echo "== CONNECT tunnel =="
rtt=$("$CLIENT" rtt "$PROXY_PORT" 20000)
bulk=$("$CLIENT" bulk "$PROXY_PORT" 512)
val() { awk -F= -v k="$1" '$1 == k { print $2 }' <<<"$2"; }
med_d=$(val rtt_direct_median_us "$rtt"); med_t=$(val rtt_tunnel_median_us "$rtt")
p99_d=$(val rtt_direct_p99_us "$rtt"); p99_t=$(val rtt_tunnel_p99_us "$rtt")
bulk_d=$(val bulk_direct_mbs "$bulk"); bulk_t=$(val bulk_tunnel_mbs "$bulk"); bulk_r=$(val bulk_relay_mbs "$bulk")
overhead=$(awk -v a="$med_t" -v b="$med_d" 'BEGIN { printf "%.1f", a - b }')
echo "  64-byte round trip: direct median $med_d us / p99 $p99_d us, tunnel median $med_t us / p99 $p99_t us (median overhead $overhead us)"
echo "  bulk: direct $bulk_d MB/s, tunnel $bulk_t MB/s, ratio $(ratio "$bulk_t" "$bulk_d")"
# A relay copies every byte twice more than a direct transfer; with a core per thread that
# caps any relay near half the direct rate. The bare relay shows where that cap lies here.
echo "  bulk: a bare copying relay $bulk_r MB/s (ratio $(ratio "$bulk_r" "$bulk_d")); the tunnel reaches $(ratio "$bulk_t" "$bulk_r") of it"
check "median round-trip overhead us" "$overhead" "<" 50
# On a virtual machine a wake-up across cores can cost tens of microseconds, and the tunnel adds
# two of them to each round trip. With every thread on one core what remains is the tunnel's own work.
if command -v taskset >/dev/null; then
  all_cpus=$(taskset -p $$ | awk '{ print $NF }')
  taskset -a -p 1 "$VG_PID" >/dev/null
  rtt1=$(taskset 1 "$CLIENT" rtt "$PROXY_PORT" 20000)
  taskset -a -p "$all_cpus" "$VG_PID" >/dev/null
  med1_d=$(val rtt_direct_median_us "$rtt1"); med1_t=$(val rtt_tunnel_median_us "$rtt1")
  echo "  64-byte round trip, all threads on one core: direct median $med1_d us, tunnel median $med1_t us (overhead $(awk -v a="$med1_t" -v b="$med1_d" 'BEGIN { printf "%.1f", a - b }') us)"
fi
check "bulk ratio" "$(ratio "$bulk_t" "$bulk_d")" ">=" 0.5

echo "== 500 idle keep-alive connections =="
idle=$("$CLIENT" idle "$PROXY_PORT" "$NGINX_PORT" 500 "$VG_PID") || { echo "$idle"; fail=1; }
idle_ok=$(val idle_ok "$idle")
idle_mib=$(awk -v k="$(val idle_rss_kib "$idle")" 'BEGIN { printf "%.1f", k / 1024 }')
echo "  $idle_ok of 500 answered 200; vgproxy resident $idle_mib MiB while they stay open"
check "idle resident MiB" "$idle_mib" "<" 32

[ "$fail" = 0 ] || { echo "some answers were not 200"; exit 1; }
