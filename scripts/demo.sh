#!/usr/bin/env bash
# The main job.
# As root (network namespaces available): builds a private test LAN, starts
# simulated modules in it, finds them with tideload-cli find, and updates the
# first module that search listed with the sample application from examples/.
# Otherwise (it says why): a simulated module on 127.0.0.1 gets the sample
# application. Ends with the update's exit status; Ctrl-C ends it at once with
# 130, after the same clean-up.
set -uo pipefail
# The programs take Ctrl-C themselves; the demo then goes no further.
trap 'echo "demo: interrupted"; exit 130' INT
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD=${BUILD_DIR:-build}
FILE=examples/demo_APP.s19
LAN=scripts/testlan.sh

wait_for() {  # wait_for FILE...: each file there within 10 s
  local f i
  for f in "$@"; do
    for i in $(seq 200); do [ -e "$f" ] && break; sleep 0.05; done
    [ -e "$f" ] || return 1
  done
}

loopback_demo() {
  echo "== tideload-sim on 127.0.0.1, updated by tideload-cli"
  local ready="$BUILD/demo-ready"
  rm -f "$ready"
  "$BUILD/tideload-sim" --listen 127.0.0.1 --pace 10 --save "$BUILD/demo-received.bin" \
    --ready-file "$ready" &
  local sim=$!
  trap 'kill $sim 2>/dev/null' EXIT
  wait_for "$ready" || { echo "tideload-sim did not start"; return 1; }
  "$BUILD/tideload-cli" update 127.0.0.1 "$FILE"
  local status=$?
  wait "$sim"; local sim_status=$?
  trap - EXIT
  echo "tideload-cli exit status $status, tideload-sim exit status $sim_status"
  [ "$status" -eq 0 ] && [ "$sim_status" -eq 0 ]
}

if ! why=$(bash "$LAN" check 2>&1 >/dev/null); then
  echo "(no network namespaces here: ${why#testlan: }; the loopback demo only)"
  loopback_demo
  exit $?
fi

export TESTLAN=tldemo
cleanup() { bash "$LAN" down >/dev/null 2>&1; }
trap cleanup EXIT
echo "== a private test LAN: program host 10.77.0.1, modules m1..m3, a two-interface host"
bash "$LAN" up 3 >/dev/null || { echo "could not build the test LAN"; exit 1; }

# Module m1..m3: the discovery side and the update side of one module each.
READY=$(mktemp -d)
trap 'cleanup; rm -rf "$READY"' EXIT
for i in 1 2 3; do
  addr=10.77.1.$i
  bash "$LAN" exec m$i "$ROOT/$BUILD/tideload-sim" discover --seconds 60 --ready-file "$READY/d$i" \
    --module "name=Pump-$i,app=Valve control 2.$i,mac=02:00:00:00:01:0$i" >/dev/null 2>&1 &
  bash "$LAN" exec m$i "$ROOT/$BUILD/tideload-sim" --listen "$addr" --pace 10 --ready-file "$READY/u$i" \
    --save "$ROOT/$BUILD/demo-received-$i.bin" >/dev/null 2>&1 &
done
# A device with two interfaces on the dual host.
bash "$LAN" exec dual "$ROOT/$BUILD/tideload-sim" discover --seconds 60 --ready-file "$READY/dual" \
  --module "name=Gateway,app=Bridge 1.0,mac=02:00:00:00:09:01,device=02:00:00:00:09:00,from=10.77.9.1" \
  --module "name=Gateway,app=Bridge 1.0,mac=02:00:00:00:09:02,device=02:00:00:00:09:00,kind=1,from=10.77.9.2" \
  >/dev/null 2>&1 &
wait_for "$READY"/d1 "$READY"/d2 "$READY"/d3 "$READY"/u1 "$READY"/u2 "$READY"/u3 "$READY"/dual ||
  { echo "the simulated modules did not start"; exit 1; }

echo "== tideload-cli find (in the program host)"
bash "$LAN" exec prog "$ROOT/$BUILD/tideload-cli" find --seconds 1 | tee "$BUILD/demo-find.txt"
# The first module of one interface that this search listed:
# "Pump-2 DHCP'd at 10.77.1.2 running :Valve control 2.2".
first=$(grep -m1 '^Pump' "$BUILD/demo-find.txt")
target=$(awk '{ for (i = 1; i < NF; i++) if ($i == "at") { print $(i + 1); exit } }' <<<"$first")
if [ -z "$target" ]; then
  echo "no module found"
  exit 1
fi

echo "== tideload-cli update $target $FILE (in the program host): the first module listed, ${first%% *}"
bash "$LAN" exec prog "$ROOT/$BUILD/tideload-cli" update "$target" "$FILE"
status=$?
echo "tideload-cli exit status $status"
exit "$status"
