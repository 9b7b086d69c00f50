#!/usr/bin/env bash
# Builds the 32-bit Windows program as build-win32/tideload.exe with
# mingw-w64, installing the cross compiler first when it is missing (as
# root). The driver the Wine tests use is built beside it.
#   BUILD_WIN32_DIR   the build folder (build-win32)
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(g++-mingw-w64-i686-win32 cmake make)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "build-win32: missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
  fi
  echo "build-win32: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

BUILD_DIR=${BUILD_WIN32_DIR:-build-win32}
cmake --no-warn-unused-cli -S . -B "$BUILD_DIR" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release \
  -DTIDELOAD_QT=OFF -DTIDELOAD_TESTS=OFF -DTIDELOAD_BENCH=OFF >/dev/null
cmake --build "$BUILD_DIR" -j2
echo "build-win32: built $BUILD_DIR/tideload.exe ($(stat -c %s "$BUILD_DIR/tideload.exe") bytes)"
