#!/usr/bin/env bash
# Builds the 32-bit Windows program as build-win32/tideload.exe with
# mingw-w64, installing the cross compiler first when it is missing (as
# root). The driver the Wine tests use is built beside it, and tideload-cli's
# portable sources are compiled.
#   BUILD_WIN32_DIR   the build folder (build-win32)
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(g++-mingw-w64-i686-win32 cmake make nlohmann-json3-dev libcli11-dev)

# shellcheck source=scripts/packages.sh
source scripts/packages.sh
install_packages build-win32 "${PACKAGES[@]}" || exit 1

BUILD_DIR=${BUILD_WIN32_DIR:-build-win32}
cmake --no-warn-unused-cli -S . -B "$BUILD_DIR" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release \
  -DTIDELOAD_QT=OFF -DTIDELOAD_TESTS=OFF -DTIDELOAD_BENCH=OFF -DTIDELOAD_WERROR=ON >/dev/null
cmake --build "$BUILD_DIR" -j2
echo "build-win32: built $BUILD_DIR/tideload.exe ($(stat -c %s "$BUILD_DIR/tideload.exe") bytes)"
