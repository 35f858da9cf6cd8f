#!/usr/bin/env bash
# Installs the dependencies, builds everything and runs every test:
#   1. the normal build and the whole suite,
#   2. the suite again under AddressSanitizer + UndefinedBehaviorSanitizer,
#   3. a short smoke run of every fuzz target (clang + libFuzzer).
#   4. the Windows build (mingw-w64), its suites under Wine and the compressor compared byte for
#      byte between the two builds.
# VG_SKIP_SANITIZE=1, VG_SKIP_FUZZ=1 or VG_SKIP_WINDOWS=1 leave out step 2, 3 or 4 for a quick
# local run.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
bash scripts/deps.sh
JOBS=$(nproc)

echo "== format (lines changed since the style was adopted) =="
bash scripts/format.sh --check
echo "== folder layers =="
python3 scripts/check-layers.py

echo "== build (normal) =="
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$JOBS"
echo "== tests (normal) =="
(cd build && ctest --output-on-failure -j "$JOBS" --timeout 300) | tee build/ctest.log
count_tests() { grep -o 'tests failed out of [0-9]*' "$1" | grep -o '[0-9]*$' | tail -1; }
TOTAL=$(count_tests build/ctest.log)

if [ "${VG_SKIP_SANITIZE:-0}" != 1 ]; then
  echo "== build (address,undefined) =="
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVG_SANITIZE=address,undefined \
    -DVG_BUILD_BENCH=OFF >/dev/null
  cmake --build build-asan -j "$JOBS"
  echo "== tests (address,undefined) =="
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1
  if ! (cd build-asan && ctest --output-on-failure -j "$JOBS" --timeout 600) | tee build-asan/ctest.log; then
    # The leak checker's own thread sometimes crashes after a test has passed (a known fault of
    # the sanitizer runtime, not of the program); only when every failure is that crash are the
    # failed tests run once more.
    failed=$(grep -c '^[[:space:]]*[0-9]* - .*(\(Failed\|Subprocess aborted\|SEGFAULT\|Timeout\|Child aborted\|Exception\))' \
      build-asan/ctest.log || true)
    tracer=$(grep -c 'LeakSanitizer has encountered a fatal error' build-asan/ctest.log || true)
    if [ "$failed" -gt 0 ] && [ "$tracer" -ge "$failed" ]; then
      echo "== rerun of $failed test(s) whose only fault was the leak checker's crash =="
      (cd build-asan && ctest --output-on-failure --rerun-failed --timeout 600) | tee build-asan/ctest-rerun.log
    else
      exit 1
    fi
  fi
  TOTAL=$((TOTAL + $(count_tests build-asan/ctest.log)))
fi

if [ "${VG_SKIP_FUZZ:-0}" != 1 ] && command -v clang++ >/dev/null; then
  echo "== fuzz smoke =="
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVG_SANITIZE=address,undefined -DVG_BUILD_FUZZ=ON -DBUILD_TESTING=OFF -DVG_BUILD_BENCH=OFF >/dev/null
  cmake --build build-fuzz -j "$JOBS"
  bash scripts/fuzz.sh build-fuzz "${VG_FUZZ_SECONDS:-5}" | tee build-fuzz/fuzz-smoke.log
  TOTAL=$((TOTAL + $(grep -c ': ok (' build-fuzz/fuzz-smoke.log)))
fi
if [ "${VG_SKIP_WINDOWS:-0}" != 1 ]; then
  echo "== build (Windows, cross-compiled) =="
  cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build-win -j "$JOBS"
  echo "== tests (Windows, under Wine) =="
  # A fresh Wine prefix per run, made before the suites start in parallel.
  export WINEPREFIX=$ROOT/build-win/wineprefix
  rm -rf "$WINEPREFIX"
  start=$(date +%s)
  bash scripts/wine-run.sh wineboot.exe --init >/dev/null 2>&1 || true
  echo "Wine prefix made in $(($(date +%s) - start)) s"
  (cd build-win && ctest --output-on-failure -j "$JOBS" --timeout 600) | tee build-win/ctest.log
  TOTAL=$((TOTAL + $(count_tests build-win/ctest.log)))
  bash scripts/compare-compress.sh build build-win
  bash scripts/test-windows-e2e.sh build build-win
  TOTAL=$((TOTAL + 2))
  echo "Windows step took $(($(date +%s) - start)) s"
fi
echo "all: $TOTAL passed, 0 failed"
