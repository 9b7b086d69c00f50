#!/usr/bin/env bash
# The main job: a simulated module on 127.0.0.1 gets the sample application
# from examples/ through tideload-cli; ends with the update's exit status.
set -uo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD_DIR:-build}
FILE=examples/demo_APP.s19
"$BUILD/tideload-sim" --listen 127.0.0.1 --pace 10 --save "$BUILD/demo-received.bin" &
SIM=$!
trap 'kill $SIM 2>/dev/null' EXIT
sleep 0.3
"$BUILD/tideload-cli" update 127.0.0.1 "$FILE"
status=$?
wait "$SIM"; sim_status=$?
trap - EXIT
echo "tideload-cli exit status $status, tideload-sim exit status $sim_status"
[ "$status" -eq 0 ] && [ "$sim_status" -eq 0 ]
