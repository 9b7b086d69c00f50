#!/usr/bin/env bash
# The Windows program end to end under Wine: builds tideload.exe and a fresh
# 32-bit prefix, then, headless under Xvfb,
#   - tideload.exe -I127.0.0.1 -F<demo> -R -A against tideload-sim: the image
#     arrives byte-exact, the reboot choice is R, the exit status is 0;
#   - "IPAddr" is in the prefix's registry afterwards;
#   - the main window opens, is pictured, and its close box gives -1 (255).
# Needs the Linux build (scripts/setup.sh) for tideload-sim and tideload-cli.
# Skipped, with a message, only when Wine cannot be installed here.
#   test-win32.sh [BUILD_DIR]      the Linux build folder (build)
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD=$(realpath -m "${1:-build}")
WIN32_BUILD="$ROOT/${BUILD_WIN32_DIR:-build-win32}"
PREFIX="$WIN32_BUILD/wineprefix"
SHOTS="$WIN32_BUILD/screenshots"
EXE="$WIN32_BUILD/tideload.exe"
DRIVER="$WIN32_BUILD/driver.exe"
DEMO="$ROOT/examples/demo_APP.s19"
say() { echo "test-win32: $*"; }

for program in tideload-sim tideload-cli; do
  if [ ! -x "$BUILD/$program" ]; then
    say "FAILED: $BUILD/$program is not built (run scripts/setup.sh)"
    exit 1
  fi
done
started=$SECONDS
scripts/build-win32.sh >/dev/null || { say "FAILED: the Windows build"; exit 1; }
scripts/wine-prefix.sh "$PREFIX"
case $? in
  0) ;;
  3) say "SKIPPED: Wine cannot be installed on this machine"; exit 0 ;;
  *) say "FAILED: the Wine prefix"; exit 1 ;;
esac
say "build and prefix in $((SECONDS - started)) s"

WORK=$(mktemp -d)
XVFB_PID=
SIM_PID=
PROG_PID=
export WINEPREFIX="$PREFIX" WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
cleanup() {
  for pid in $PROG_PID $SIM_PID; do kill "$pid" 2>/dev/null; done
  wineserver -k 2>/dev/null
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT
failed=0
fail() { say "FAILED: $*"; failed=1; }

# A display of its own: Xvfb picks a free number and writes it.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$WORK/display" 2>"$WORK/xvfb.err" &
XVFB_PID=$!
for _ in $(seq 200); do
  [ -s "$WORK/display" ] && break
  kill -0 "$XVFB_PID" 2>/dev/null || break
  sleep 0.05
done
[ -s "$WORK/display" ] || { say "FAILED: Xvfb did not start"; cat "$WORK/xvfb.err"; exit 1; }
export DISPLAY=":$(cat "$WORK/display")"

# A Unix path as the program sees it, on Wine's drive Z:.
windows_path() { local p=$1; echo "Z:${p//\//\\}"; }

# The sim on 127.0.0.1 port 20034; when another program holds that port,
# on a random 127.x.y.z address instead.
start_sim() {
  local address
  for address in 127.0.0.1 "127.$((RANDOM % 250 + 1)).$((RANDOM % 250 + 1)).$((RANDOM % 250 + 1))"; do
    rm -f "$WORK/ready"
    "$BUILD/tideload-sim" --listen "$address" --ready-file "$WORK/ready" "$@" \
      >"$WORK/sim.out" 2>"$WORK/sim.err" &
    SIM_PID=$!
    for _ in $(seq 500); do
      if [ -e "$WORK/ready" ]; then
        ADDR=$address
        return 0
      fi
      kill -0 "$SIM_PID" 2>/dev/null || break
      sleep 0.01
    done
    wait "$SIM_PID" 2>/dev/null
    SIM_PID=
  done
  return 1
}

step=$SECONDS
say "tideload.exe -I<sim> -F<demo> -R -A: byte-exact image, reboot R, exit 0"
"$BUILD/tideload-cli" inspect --output "$WORK/expected.bin" "$DEMO" >/dev/null || fail "the demo does not load"
if start_sim --save "$WORK/image.bin" --expect-reboot R --timeout 40; then
  timeout 30 wine "$EXE" "-I$ADDR" "-F$(windows_path "$DEMO")" -R -A
  status=$?
  wait "$SIM_PID"
  sim_status=$?
  SIM_PID=
  [ "$status" -eq 0 ] || fail "tideload.exe exit status $status, not 0"
  [ "$sim_status" -eq 0 ] || { fail "the sim says $sim_status"; cat "$WORK/sim.err"; }
  if cmp -s "$WORK/expected.bin" "$WORK/image.bin"; then
    say "image of $(stat -c %s "$WORK/image.bin") bytes arrived byte-exact"
  else
    fail "the image that arrived differs from the file's"
  fi
else
  fail "no sim would start"
fi
say "update step in $((SECONDS - step)) s"

step=$SECONDS
wineserver -w
expected=$(printf '0x%x' "$(( $(echo "$ADDR" | awk -F. '{print ($1*16777216)+($2*65536)+($3*256)+$4}') ))")
stored=$(wine reg query 'HKLM\SOFTWARE\Ombrelin\TIDELOAD\Settings' /v IPAddr 2>/dev/null | tr -d '\r' |
  awk '$1 == "IPAddr" && $2 == "REG_DWORD" {print $3}')
if [ "$stored" = "$expected" ]; then
  say "IPAddr in the registry: $stored"
else
  fail "IPAddr in the registry is '${stored}', not $expected"
fi
say "registry step in $((SECONDS - step)) s"

step=$SECONDS
say "the main window: shown, pictured, closed with -1"
mkdir -p "$SHOTS"
rm -f "$SHOTS"/main*.png
wine "$EXE" "-I$ADDR" "-F$(windows_path "$DEMO")" -R &
PROG_PID=$!
if rect=$(wine "$DRIVER" wait '``' 30 | tr -d '\r'); then
  read -r left top right bottom <<<"$rect"
  import -window root "$SHOTS/main-desktop.png"
  import -window root -crop "$((right - left))x$((bottom - top))+$left+$top" +repage "$SHOTS/main.png"
  wine "$DRIVER" close '``' || fail "the driver could not close the main window"
  timeout 30 tail --pid="$PROG_PID" -f /dev/null
  wait "$PROG_PID"
  status=$?
  PROG_PID=
  [ "$status" -eq 255 ] || fail "closing the main window gave exit status $status, not 255 (-1)"
  [ -s "$SHOTS/main.png" ] || fail "no screenshot"
  say "screenshot $SHOTS/main.png"
else
  fail "the main window did not show"
fi
say "window step in $((SECONDS - step)) s"

say "all in $((SECONDS - started)) s"
[ "$failed" -eq 0 ] && say "ok"
exit "$failed"
