#!/bin/bash
# The desktop program offscreen in the test LAN, with simulated modules and
# screenshots under BUILD/screenshots-find. Skips (77) without build/tideload
# or namespaces. Pressing "Find..." and OK needs a scripted-user hook of the
# Qt host: DESKTOP_DRIVER, when set, is run in the program's host with the
# program's pid as $1 to do so.
#   scripts/desktop-find-check.sh BUILD_DIR SOURCE_DIR
set -u
BUILD=${1:?build folder} SRC=${2:?source folder}
[ -x "$BUILD/tideload" ] || { echo "desktop-find-check: no $BUILD/tideload, skipped"; exit 77; }
export TESTLAN="tlt$$"
L="$SRC/scripts/testlan.sh"
"$L" check || exit 77
trap '"$L" down >/dev/null 2>&1' EXIT
"$L" up 3 >/dev/null || exit 1
for i in 1 2 3; do
  "$L" exec "m$i" "$BUILD/tideload-sim" discover --seconds 60 --module "name=Desk-$i,app=A,mac=02:00:00:00:01:0$i" 2>/dev/null &
done
"$L" exec dual "$BUILD/tideload-sim" discover --seconds 60 \
  --module "name=Duo,app=Dual,mac=02:00:00:00:09:01,device=02:00:00:00:09:00,from=10.77.9.1" \
  --module "name=Duo,app=Dual,mac=02:00:00:00:09:02,device=02:00:00:00:09:00,kind=1,from=10.77.9.2" 2>/dev/null &
SHOTS="$BUILD/screenshots-find"
mkdir -p "$SHOTS"
"$L" exec prog env QT_QPA_PLATFORM=offscreen TIDELOAD_SCREENSHOT_DIR="$SHOTS" "$BUILD/tideload" &
prog=$!
sleep 1
if [ -n "${DESKTOP_DRIVER:-}" ]; then "$L" exec prog $DESKTOP_DRIVER "$prog"; fi
sleep 6
kill "$prog" 2>/dev/null
wait "$prog" 2>/dev/null
ls -l "$SHOTS"
[ -n "$(ls -A "$SHOTS")" ] || { echo "desktop-find-check: no screenshot written"; exit 1; }
