#!/usr/bin/env bash
# Soak run of the protected path: CLIENTS curl clients x REQUESTS protected requests each, of
# mixed sizes (text and random bytes, 0 B to 64 KiB, every 25th 200 KB or 1 MiB), keep-alive, through one vgproxy and one
# vggate (emulation engine) to nginx on loopback. Every answer must be byte-identical to the
# file nginx served. vgproxy's threads (/proc/PID/task), open descriptors (/proc/PID/fd) and
# resident memory (VmRSS) are taken after a warm-up round and again after the run.
#   bench/soak.sh [BUILD_DIR] [CLIENTS] [REQUESTS]     (SOAK_COMPRESS: compress mode, default 1)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
CLIENTS=${2:-8}
REQUESTS=${3:-2000}
BIN=$(cd "$BUILD/bin" && pwd)
source bench/lib.sh
need_tools nginx curl md5sum python3
[ -x "$BIN/vgproxy" ] && [ -x "$BIN/vggate" ] || { echo "build vgproxy and vggate first"; exit 1; }

WEB_PORT=$(free_port); GATE_PORT=$(free_port); PROXY_PORT=$(free_port)
mkdir -p "$WORK/www" "$WORK/out" "$WORK/run" "$WORK/logs"
SIZES=(0 1 17 512 1024 4096 30000 65536 200000 1048576)
for s in "${SIZES[@]}"; do
  head -c "$s" /dev/urandom >"$WORK/www/r$s"
  python3 -c "import sys; t=''.join('line %d of the soak page\\n' % i for i in range($s // 20 + 1)); sys.stdout.write(t[:$s])" >"$WORK/www/t$s"
done
start_nginx "$WEB_PORT"

cat >"$WORK/gate.ini" <<EOF
[Gateway]
Listen=127.0.0.1:$GATE_PORT
Engine=Emulation/1.0
Compress=${SOAK_COMPRESS:-1}
[Engine]
UID=gate-1
Partner=client-1
[Backends]
soak.veilgate.test=127.0.0.1:$WEB_PORT
EOF
LD_LIBRARY_PATH=$BIN "$BIN/vggate" --config "$WORK/gate.ini" 2>"$WORK/gate.log" & PIDS+=($!)
wait_port "$GATE_PORT" || { echo "vggate did not start:"; cat "$WORK/gate.log"; exit 1; }

sed -e "s/^Self TCP port=.*/Self TCP port=$PROXY_PORT/" -e "s|^Log-file name=.*|Log-file name=$WORK/logs|" \
    -e "s/^Log flags=.*/Log flags=4/" "$BIN/veilgate.cfg" >"$WORK/veilgate.cfg"
cat >>"$WORK/veilgate.cfg" <<EOF

[Client\\Web servers\\s1]
web server host=soak.veilgate.test
veilgate location=127.0.0.1:$GATE_PORT
crypto engine=Emulation/1.0
compress mode=${SOAK_COMPRESS:-1}
[Client\\Web servers\\s1\\Crypto engine]
UID=client-1
Partner=gate-1
EOF
XDG_RUNTIME_DIR=$WORK/run VG_REGISTRY_DIR=$WORK/run/registry DISPLAY= WAYLAND_DISPLAY= LD_LIBRARY_PATH=$BIN \
  "$BIN/vgproxy" --headless --config "$WORK/veilgate.cfg" >"$WORK/proxy.log" 2>&1 & PROXY=$!; PIDS+=($PROXY)
wait_port "$PROXY_PORT" || { echo "vgproxy did not start:"; cat "$WORK/proxy.log"; exit 1; }

state() {
  echo "threads=$(ls /proc/$PROXY/task | wc -l) fds=$(ls /proc/$PROXY/fd | wc -l) rss_kb=$(awk '/VmRSS/ {print $2}' /proc/$PROXY/status)"
}
# One client's list: url and output file pairs, sizes and kinds rotating by client and index.
for c in $(seq "$CLIENTS"); do
  : >"$WORK/client$c.cfg"
  for i in $(seq "$REQUESTS"); do
    # Mostly small and middle sizes; every 25th answer is one of the two large ones.
    if [ $((i % 25)) = 0 ]; then s=${SIZES[$((8 + (i / 25 + c) % 2))]}; else s=${SIZES[$(((i * 7 + c) % 8))]}; fi
    k=$([ $(((i + c) % 2)) = 0 ] && echo r || echo t)
    printf 'url = "http://soak.veilgate.test/%s%s"\noutput = "%s/out/%s-%s-%s%s"\n' "$k" "$s" "$WORK" "$c" "$i" "$k" "$s" >>"$WORK/client$c.cfg"
  done
done
run_clients() {
  local cpids=()
  for c in $(seq "$CLIENTS"); do
    curl -s --fail -x "127.0.0.1:$PROXY_PORT" --max-time 600 -K "$WORK/$1$c.cfg" & cpids+=($!)
  done
  local failed=0
  for p in "${cpids[@]}"; do wait "$p" || failed=1; done
  return $failed
}
# Warm-up: every client once through every kind of answer, then the first reading.
for c in $(seq "$CLIENTS"); do head -n 40 "$WORK/client$c.cfg" >"$WORK/warm$c.cfg"; done
run_clients warm
sleep 2
BEFORE=$(state)
rm -f "$WORK"/out/*
START=$(date +%s.%N)
run_clients client || { echo "FAIL: a curl client failed"; tail -5 "$WORK/proxy.log"; exit 1; }
END=$(date +%s.%N)
sleep 3
AFTER=$(state)

# Byte identity: the digest of every answer against the digest of the file it names.
(cd "$WORK/www" && md5sum -- *) | awk '{print $2, $1}' | sort >"$WORK/expected"
GOT=$(ls "$WORK/out" | wc -l)
BAD=$( (cd "$WORK/out" && md5sum -- *) | awk -v expfile="$WORK/expected" '
  BEGIN { while ((getline l < expfile) > 0) { split(l, f, " "); want[f[1]] = f[2] } }
  { name = $2; sub(/^[0-9]+-[0-9]+-/, "", name); if (want[name] != $1) bad++ }
  END { print bad + 0 }')
TOTAL=$((CLIENTS * REQUESTS))
printf 'soak: %d clients x %d protected requests: %d answers, %d differing, %.1f s (%.0f requests/s)\n' \
  "$CLIENTS" "$REQUESTS" "$GOT" "$BAD" "$(echo "$END - $START" | bc)" "$(echo "$TOTAL / ($END - $START)" | bc -l)"
echo "vgproxy before: $BEFORE"
echo "vgproxy after:  $AFTER"
echo "gateway exchanges logged: $(grep -c 'status=200' "$WORK/gate.log")"
[ "$GOT" = "$TOTAL" ] && [ "$BAD" = 0 ] || { echo "FAIL: answers missing or different"; exit 1; }
b_thr=$(echo "$BEFORE" | sed 's/.*threads=\([0-9]*\).*/\1/'); a_thr=$(echo "$AFTER" | sed 's/.*threads=\([0-9]*\).*/\1/')
b_fd=$(echo "$BEFORE" | sed 's/.*fds=\([0-9]*\).*/\1/'); a_fd=$(echo "$AFTER" | sed 's/.*fds=\([0-9]*\).*/\1/')
b_rss=$(echo "$BEFORE" | sed 's/.*rss_kb=\([0-9]*\).*/\1/'); a_rss=$(echo "$AFTER" | sed 's/.*rss_kb=\([0-9]*\).*/\1/')
[ "$a_thr" -le "$b_thr" ] || { echo "FAIL: vgproxy has more threads after the run"; exit 1; }
[ "$a_fd" -le "$b_fd" ] || { echo "FAIL: vgproxy has more open descriptors after the run"; exit 1; }
# The allocator may keep freed pages; growth beyond 32 MiB would be a leak of the run's size.
[ "$a_rss" -le $((b_rss + 32768)) ] || { echo "FAIL: vgproxy's resident memory grew by $((a_rss - b_rss)) KiB"; exit 1; }
echo "soak: OK"
