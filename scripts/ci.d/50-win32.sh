#!/usr/bin/env bash
# The Windows program built with mingw-w64 and run end to end under Wine
# (installs the cross compiler and Wine when they are missing).
#   $1 build folder, $2 source folder
set -uo pipefail
BUILD=${1:?build folder}
SRC=${2:?source folder}
exec bash "$SRC/scripts/test-win32.sh" "$BUILD"
