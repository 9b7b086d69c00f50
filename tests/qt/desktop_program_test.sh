#!/usr/bin/env bash
# The desktop program as a shell starts it: --help and --version print and
# exit without a window; without a display it says how to run and exits 1;
# the whole argument text is the program's (Qt takes
# none of it, -reverse is -r); under X the main window is a normal top-level
# window of the program's own class, and the credentials prompt is a dialog
# transient for the update dialog. Runs itself under xvfb-run.
#   $1 build folder, $2 source folder
set -uo pipefail
BUILD=${1:?build folder}
SRC=${2:?source folder}
if [ -z "${DESKTOP_TEST_IN_XVFB:-}" ]; then
  for tool in xvfb-run xprop xwininfo; do
    command -v "$tool" >/dev/null || { echo "desktop: $tool missing (scripts/setup.sh installs it)"; exit 1; }
  done
  DESKTOP_TEST_IN_XVFB=1 exec xvfb-run -a bash "$0" "$@"
fi
PROGRAM="$BUILD/tideload"
FILE="$SRC/examples/demo_APP.s19"
WORK=$(mktemp -d)
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  rm -rf "$WORK"
}
trap cleanup EXIT
export TIDELOAD_REGISTRY_DIR="$WORK/registry" TIDELOAD_SCREENSHOT_DIR=
failed=0
fail() { echo "desktop: FAILED: $*"; failed=1; }

# shellcheck source=tests/qt/loopback_sim.sh
source "$SRC/tests/qt/loopback_sim.sh"
sim() {  # sim ARGS...: a sim that the cleanup ends
  start_sim "$@" || { echo "desktop: the sim did not start"; exit 1; }
  PIDS+=("$SIM_PID")
}

# The X window with this name, once it is there (or empty after 20 s).
window_named() {
  for _ in $(seq 400); do
    id=$(xwininfo -root -tree | grep -F " \"$1\": " | awk '{ print $1; exit }')
    [ -n "$id" ] && { echo "$id"; return; }
    sleep 0.05
  done
}

echo "desktop: --help and --version print on stdout and exit 0 without a window"
out=$(env -u DISPLAY QT_QPA_PLATFORM=xcb timeout 20 "$PROGRAM" --help 2>"$WORK/err"); status=$?
[ "$status" -eq 0 ] || fail "--help exits $status"
[ -s "$WORK/err" ] && fail "--help wrote on stderr: $(cat "$WORK/err")"
for want in "-A " "-F<file>" "-I<address>" "-R " "255"; do
  grep -qF -- "$want" <<<"$out" || fail "--help does not tell '$want'"
done
out=$(env -u DISPLAY QT_QPA_PLATFORM=xcb timeout 20 "$PROGRAM" --version 2>&1); status=$?
[ "$status" -eq 0 ] && [ "$out" = "Tideload Version 1.0" ] || fail "--version: status $status, '$out'"

echo "desktop: without a display it says how to run and exits 1, without aborting"
env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb timeout 20 "$PROGRAM" -I10.0.0.5 >/dev/null 2>"$WORK/err"; status=$?
[ "$status" -eq 1 ] || fail "no display: exit $status"
grep -qF "QT_QPA_PLATFORM=offscreen" "$WORK/err" || fail "no display: $(cat "$WORK/err")"

echo "desktop: every argument is the program's: the reboot choice reaches the module"
while IFS='|' read -r choice args; do
  sim --expect-reboot "$choice"
  # shellcheck disable=SC2086  # the words of args are the arguments
  out=$(QT_QPA_PLATFORM=offscreen timeout 20 "$PROGRAM" $args "-I$ADDR" "-F$FILE" -A 2>&1); status=$?
  wait "$SIM_PID"; sim_status=$?
  [ "$status" -eq 0 ] && [ "$sim_status" -eq 0 ] ||
    fail "tideload $args: status $status, sim $sim_status ($(cat "$WORK/sim.err")) $out"
done <<'CASES'
R|-reverse
R|-style -R
R|--help -R
R|-h -r
D|-platform offscreen -name other
CASES

echo "desktop: under X the main window is a normal window of class tideload"
QT_QPA_PLATFORM=xcb "$PROGRAM" -name other -I10.0.0.5 >/dev/null 2>&1 &
PIDS+=($!)
main=$(window_named '``')
if [ -z "$main" ]; then
  fail "no main window"
else
  props=$(xprop -id "$main" WM_CLASS _NET_WM_WINDOW_TYPE WM_TRANSIENT_FOR)
  grep -qx 'WM_CLASS(STRING) = "tideload", "tideload"' <<<"$props" || fail "main window: $props"
  grep -qx '_NET_WM_WINDOW_TYPE(ATOM) = _NET_WM_WINDOW_TYPE_NORMAL' <<<"$props" || fail "main window: $props"
  grep -q 'WM_TRANSIENT_FOR:  not found' <<<"$props" || fail "main window: $props"
fi
kill "${PIDS[-1]}" 2>/dev/null

echo "desktop: the credentials prompt is a dialog transient for the update dialog"
sim --user admin --password secret --timeout 30
QT_QPA_PLATFORM=xcb "$PROGRAM" "-I$ADDR" "-F$FILE" -A >/dev/null 2>&1 &
PIDS+=($!)
prompt=$(window_named 'Password needed')
update=$(window_named 'Program Ombrelin')
if [ -z "$prompt" ] || [ -z "$update" ]; then
  fail "no credentials prompt over the update dialog"
else
  props=$(xprop -id "$prompt" _NET_WM_WINDOW_TYPE WM_TRANSIENT_FOR)
  grep -q '_NET_WM_WINDOW_TYPE_DIALOG' <<<"$props" || fail "prompt: $props"
  [ "$(printf '%d' "$(xprop -id "$prompt" WM_TRANSIENT_FOR | awk '{print $NF}')")" = "$(printf '%d' "$update")" ] ||
    fail "prompt not transient for the update dialog: $props"
fi

[ "$failed" -eq 0 ] && echo "desktop: ok"
exit "$failed"
