#!/bin/bash
# install_test.sh BUILD_DIR: "cmake --install" into a folder of its own puts
# every program there, and the desktop entry with its icon.
set -u
BUILD=$1
PREFIX=$(mktemp -d)
trap 'rm -rf "$PREFIX"' EXIT
cmake --install "$BUILD" --prefix "$PREFIX" >/dev/null || { echo "FAIL: cmake --install"; exit 1; }
fail=0
want=(bin/tideload-cli bin/tideload-sim share/applications/tideload.desktop share/pixmaps/tideload.xpm)
[ -x "$BUILD/tideload" ] && want+=(bin/tideload)
for f in "${want[@]}"; do
  if [ -e "$PREFIX/$f" ]; then echo "ok: $f"; else echo "FAIL: $f not installed"; fail=1; fi
done
"$PREFIX/bin/tideload-sim" --version | grep -q "Version" || { echo "FAIL: the installed sim does not run"; fail=1; }
exit $fail
