#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for the given seconds each:
#   scripts/fuzz.sh BUILD_DIR SECONDS [TARGET-NAME-FILTER]
set -euo pipefail
BUILD=${1:-build-fuzz}
SECONDS_EACH=${2:-5}
FILTER=${3:-}
cd "$(dirname "$0")/.."
passed=0
failed=0
for f in "$BUILD"/fuzz/fuzz_*; do
  [ -x "$f" ] || continue
  name=$(basename "$f")
  [[ -z "$FILTER" || "$name" == *"$FILTER"* ]] || continue
  corpus="fuzz/corpus-${name#fuzz_}"
  mkdir -p "$corpus"
  seeds=()
  [ -d "fuzz/seeds/${name#fuzz_}" ] && seeds=("fuzz/seeds/${name#fuzz_}")
  # Same runtime flag as the sanitizer test run (see scripts/test.sh).
  if ASAN_OPTIONS=detect_leaks=1:intercept_tls_get_addr=0 "$f" -seed="${VG_FUZZ_SEED:-1}" -max_total_time="$SECONDS_EACH" -print_final_stats=1 \
      -artifact_prefix="$BUILD/" "$corpus" "${seeds[@]}" >"$BUILD/$name.log" 2>&1; then
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$BUILD/$name.log" | grep -o '[0-9]*$' || echo "?")
    echo "fuzz $name: ok ($runs executions in ${SECONDS_EACH}s)"
    passed=$((passed + 1))
  else
    echo "fuzz $name: FAILED (see $BUILD/$name.log)"
    tail -n 40 "$BUILD/$name.log"
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
