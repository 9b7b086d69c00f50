#!/usr/bin/env bash
# The Windows programs built with mingw-w64 and run end to end under Wine
# (installs the cross compiler and Wine when they are missing): the desktop
# program, the installer and the zip, then the console program.
#   $1 build folder, $2 source folder
set -uo pipefail
BUILD=${1:?build folder}
SRC=${2:?source folder}
status=0
bash "$SRC/scripts/test-win32.sh" "$BUILD" || status=1
bash "$SRC/scripts/test-win32-cli.sh" "$BUILD" || status=1
exit "$status"
