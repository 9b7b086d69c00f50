#!/usr/bin/env bash
# Builds the 32-bit Windows programs as build-win32/tideload.exe and
# build-win32/tideload-cli.exe with mingw-w64, with their icon, version and
# manifest resources, installing the cross compiler and the packaging tools
# first when they are missing (as root). The driver the Wine tests use is
# built beside them. Then scripts/package-win32.sh makes the installer and
# the zip.
#   BUILD_WIN32_DIR   the build folder (build-win32)
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(g++-mingw-w64-i686-posix cmake make nlohmann-json3-dev libcli11-dev python3 nsis zip)

# shellcheck source=scripts/packages.sh
source scripts/packages.sh
install_packages build-win32 "${PACKAGES[@]}" || exit 1

BUILD_DIR=${BUILD_WIN32_DIR:-build-win32}
cmake --no-warn-unused-cli -S . -B "$BUILD_DIR" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release \
  -DTIDELOAD_QT=OFF -DTIDELOAD_TESTS=OFF -DTIDELOAD_BENCH=OFF -DTIDELOAD_WERROR=ON >/dev/null
cmake --build "$BUILD_DIR" -j2
for program in tideload tideload-cli; do
  echo "build-win32: built $BUILD_DIR/$program.exe ($(stat -c %s "$BUILD_DIR/$program.exe") bytes)"
done
scripts/package-win32.sh "$BUILD_DIR"
