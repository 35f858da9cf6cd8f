#!/usr/bin/env bash
# Installs the dependencies, builds the install tree in build/bin and starts the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
echo "Built into build/bin:"
ls build/bin
echo
echo "vgtool $(build/bin/vgtool --version)"
printf 'QS-Veilgate' | build/bin/vgtool stf1 encode; echo
echo
# The tunnel with the default settings (build/bin/veilgate.cfg): a local HTTP proxy on port 1030.
echo "Starting the tunnel: build/bin/vgproxy --headless (Ctrl+C unloads it). Try:"
echo "  curl -x 127.0.0.1:1030 http://example.com/"
echo "  curl -x 127.0.0.1:1030 https://example.com/"
exec build/bin/vgproxy --headless
