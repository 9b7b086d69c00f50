#!/usr/bin/env bash
# The desktop program's update under Qt's offscreen platform against
# tideload-sim: -I -F -A must exit 0; screenshots of the update dialog
# mid-run and of the credentials prompt land in the build folder.
#   $1 build folder, $2 source folder
set -uo pipefail
BUILD=${1:?build folder}
SRC=${2:?source folder}
if [ ! -x "$BUILD/tideload" ] || [ ! -x "$BUILD/tideload-sim" ]; then
  echo "qt-update: $BUILD/tideload or tideload-sim not built; skipped"
  exit 0
fi
SHOTS="$BUILD/screenshots/update"
WORK=$(mktemp -d)
SIM_PID=
PROG_PID=
cleanup() {
  for pid in $SIM_PID $PROG_PID; do kill "$pid" 2>/dev/null; done
  rm -rf "$WORK"
}
trap cleanup EXIT
mkdir -p "$SHOTS"
export QT_QPA_PLATFORM=offscreen TIDELOAD_REGISTRY_DIR="$WORK/registry"
failed=0

# shellcheck source=tests/qt/loopback_sim.sh
source "$SRC/tests/qt/loopback_sim.sh"

echo "qt-update: tideload -I<sim> -F examples/demo_APP.s19 -A exits 0 (progress paced for a mid-run picture)"
start_sim --pace 20 --save "$WORK/image.bin" || { echo "qt-update: no sim"; exit 1; }
TIDELOAD_SCREENSHOT_DIR="$SHOTS/run" timeout 60 "$BUILD/tideload" "-I$ADDR" "-F$SRC/examples/demo_APP.s19" -A
status=$?
wait "$SIM_PID"; sim_status=$?; SIM_PID=
if [ "$status" -ne 0 ] || [ "$sim_status" -ne 0 ]; then
  echo "qt-update: FAILED (tideload $status, sim $sim_status)"; cat "$WORK/sim.err"; failed=1
fi
ls "$SHOTS/run" 2>/dev/null | head

echo "qt-update: the credentials prompt (left open; the program is stopped after the picture)"
start_sim --user admin --password not-shown --timeout 20 || { echo "qt-update: no sim"; exit 1; }
PROMPT="$SHOTS/credentials/131-1.png"
rm -f "$PROMPT"
TIDELOAD_SCREENSHOT_DIR="$SHOTS/credentials" "$BUILD/tideload" "-I$ADDR" "-F$SRC/examples/demo_APP.s19" -A &
PROG_PID=$!
size=0
for _ in $(seq 600); do  # until the picture is written whole (its size holds), 30 s at most
  now=$(stat -c %s "$PROMPT" 2>/dev/null || echo 0)
  [ "$now" -gt 0 ] && [ "$now" -eq "$size" ] && break
  size=$now
  kill -0 "$PROG_PID" 2>/dev/null || break
  sleep 0.05
done
kill "$PROG_PID" 2>/dev/null; wait "$PROG_PID" 2>/dev/null; PROG_PID=
kill "$SIM_PID" 2>/dev/null; wait "$SIM_PID" 2>/dev/null; SIM_PID=
if [ ! -s "$PROMPT" ]; then
  echo "qt-update: FAILED: no screenshot of the credentials prompt"; failed=1
fi
ls "$SHOTS/credentials" 2>/dev/null | head
[ "$failed" -eq 0 ] && echo "qt-update: ok, screenshots in $SHOTS"
exit "$failed"
