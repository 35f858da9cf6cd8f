# Shared by the benchmark scripts, sourced from the top of the source tree under set -euo pipefail:
# a scratch directory, processes stopped by their own id when the script ends, free loopback
# ports and an nginx that serves $WORK/www.
PATH=$PATH:/usr/sbin

# need_tools TOOL...: stops the script, with a hint, when one of them is missing.
need_tools() {
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "missing $tool (scripts/deps.sh installs it)"; exit 1; }
  done
}

WORK=$(mktemp -d)
PIDS=()
cleanup() {
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${PIDS[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$WORK"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
wait_port() { for _ in $(seq 200); do (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0; sleep 0.05; done; return 1; }

# start_nginx PORT [HTTP-DIRECTIVES]: serves the files of $WORK/www with keep-alive on 127.0.0.1:PORT.
start_nginx() {
  mkdir -p "$WORK/nginx"
  # nginx started as root serves as an unprivileged user.
  chmod 755 "$WORK" "$WORK/www"
  chmod 644 "$WORK"/www/*
  cat >"$WORK/nginx/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $WORK/nginx/nginx.pid;
error_log $WORK/nginx/error.log;
events { worker_connections 4096; }
http {
  access_log off;
  keepalive_requests 100000000;
  ${2:-}
  server { listen 127.0.0.1:$1; root $WORK/www; }
}
CONF
  nginx -c "$WORK/nginx/nginx.conf" -p "$WORK/nginx" &
  PIDS+=($!)
  wait_port "$1" || { echo "nginx did not start:"; cat "$WORK/nginx/error.log"; exit 1; }
}
