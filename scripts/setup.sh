#!/usr/bin/env bash
# Installs what Tideload needs on Debian 12 (as root) and builds it into build/.
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
  build-essential cmake pkg-config git
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libgl-dev xvfb xauth x11-utils fonts-dejavu-core
  libssl-dev nlohmann-json3-dev libcli11-dev binutils iproute2 util-linux procps python3 jq
)

# shellcheck source=scripts/packages.sh
source scripts/packages.sh
install_packages setup "${PACKAGES[@]}" || exit 1

BUILD_DIR=${BUILD_DIR:-build}
# Every warning is an error: the code builds clean with the compiler given.
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTIDELOAD_WERROR=ON >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"
echo "setup: built into $BUILD_DIR/ (tideload, tideload-cli, tideload-sim)"
