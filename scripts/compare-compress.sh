#!/usr/bin/env bash
# The compressor gives the same bytes on both builds: runs `vgtool compress` of the Linux build and
# of the Windows build (under Wine) on a corpus of inputs in both modes and compares the outputs.
#   scripts/compare-compress.sh build build-win
set -euo pipefail
cd "$(dirname "$0")/.."
LINUX_TOOL=$1/bin/vgtool
WIN_TOOL=$2/bin/vgtool.exe
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# The corpus: the fuzz seeds, the demo pages, the default settings, and generated inputs that the
# seeds lack (empty, one byte, every byte value, long runs, a text far past the window size).
mkdir -p "$WORK/in"
cp fuzz/seeds/compress_roundtrip/* demo/*.html src/config/veilgate.cfg.in "$WORK/in/"
: >"$WORK/in/empty"
printf 'x' >"$WORK/in/one"
python3 -c 'import sys; sys.stdout.buffer.write(bytes(range(256)) * 64)' >"$WORK/in/ramp"
python3 -c 'import sys; sys.stdout.buffer.write(b"A" * 200000 + b"B" * 3)' >"$WORK/in/runs"
for _ in $(seq 40); do cat README.md; done >"$WORK/in/long-text"

count=0
for input in "$WORK"/in/*; do
  name=$(basename "$input")
  for mode in 1 2; do
    "$LINUX_TOOL" compress --mode "$mode" "$input" "$WORK/$name.$mode.linux"
    # Wine's drive Z: is the Linux root.
    bash scripts/wine-run.sh "$WIN_TOOL" compress --mode "$mode" "Z:$input" "Z:$WORK/$name.$mode.win"
    if ! cmp -s "$WORK/$name.$mode.linux" "$WORK/$name.$mode.win"; then
      echo "compress --mode $mode $name: the Windows build's output differs" >&2
      exit 1
    fi
    count=$((count + 1))
  done
done
echo "compress: $count outputs identical on both builds"
