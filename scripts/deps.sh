#!/usr/bin/env bash
# Installs every Debian 12 package the build, the tests, the benchmarks, the demo and the
# window pictures (scripts/screenshots.sh: a tray host, screen capture, pointer and keys) and the
# Debian package (dependencies, lintian, desktop entry check) and the Windows build (mingw-w64,
# Wine, GoogleTest's sources) need.
set -euo pipefail
PACKAGES=(cmake ninja-build g++ clang clang-format libclang-rt-14-dev pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev qt6-base-dev qt6-base-dev-tools
  libzip-dev libssl-dev openssl zlib1g-dev python3 xvfb xauth fonts-dejavu-core curl tinyproxy nginx-light wrk
  trayer imagemagick xdotool dpkg-dev fakeroot lintian desktop-file-utils
  g++-mingw-w64-x86-64-posix wine64 googletest)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
