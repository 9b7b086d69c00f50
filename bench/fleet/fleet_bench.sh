#!/bin/bash
# 50 slow simulated modules in a private namespace LAN: the same 50 updates
# one by one, then in one call with --jobs 50. Prints the batch's time
# against the slowest single update (goal: at most 1.2) and against the sum.
#   bench/fleet/fleet_bench.sh [BUILD_DIR [SOURCE_DIR [MODULES [PACE_MS]]]]
# BUILD_DIR defaults to build/ and SOURCE_DIR to the folder this script is
# in; PACE_MS is the modules' pause between progress lines (20: 2 s each).
set -u
SRC=${2:-$(cd "$(dirname "$0")/../.." && pwd)}
BUILD=$(cd "${1:-$SRC/build}" && pwd) || exit 1
N=${3:-50} PACE=${4:-20}
export TESTLAN="tlt$$"
L="$SRC/scripts/testlan.sh"
CLI="$BUILD/tideload-cli"
FILE="$SRC/examples/demo_APP.s19"
WORK=$(mktemp -d)
trap '"$L" down >/dev/null 2>&1; rm -rf "$WORK"' EXIT
if ! "$L" check; then echo "fleet_bench: skipped, no namespaces"; exit 0; fi
"$L" up "$N" >/dev/null || exit 1
addresses=()
for i in $(seq "$N"); do
  # Two updates each: one alone, one in the batch.
  "$L" exec "m$i" "$BUILD/tideload-sim" --listen "10.77.1.$i" --pace "$PACE" --connections 2 --quiet \
    --ready-file "$WORK/ready$i" >/dev/null 2>"$WORK/sim$i.log" &
  addresses+=("10.77.1.$i")
done
for i in $(seq "$N"); do
  for t in $(seq 200); do [ -e "$WORK/ready$i" ] && break; sleep 0.05; done
  [ -e "$WORK/ready$i" ] || { echo "fleet_bench: module $i did not start"; exit 1; }
done
now() { date +%s.%N; }

sum=0 slowest=0 failed=0
for a in "${addresses[@]}"; do
  t0=$(now)
  "$L" exec prog "$CLI" update "$a" "$FILE" 2>/dev/null || failed=$((failed + 1))
  t=$(echo "$(now) $t0" | awk '{print $1 - $2}')
  sum=$(echo "$sum $t" | awk '{print $1 + $2}')
  slowest=$(echo "$slowest $t" | awk '{print ($2 > $1) ? $2 : $1}')
done
t0=$(now)
"$L" exec prog "$CLI" update --json --jobs "$N" "${addresses[@]}" "$FILE" >"$WORK/batch.json" 2>/dev/null
status=$?
batch=$(echo "$(now) $t0" | awk '{print $1 - $2}')
ok=$(grep -c '"result": "ok"' "$WORK/batch.json")

echo "fleet in the LAN: $N modules, ${PACE} ms between progress lines"
printf '  one by one: sum %.2f s, slowest %.2f s (%d failed)\n' "$sum" "$slowest" "$failed"
printf '  --jobs %d:   %.2f s, %d of %d ok, exit status %d\n' "$N" "$batch" "$ok" "$N" "$status"
ratio=$(echo "$batch $slowest" | awk '{printf "%.2f", $1 / $2}')
printf '  batch / slowest single: %s (goal: at most 1.20) %s\n' "$ratio" \
  "$(echo "$ratio" | awk '{print ($1 <= 1.2) ? "met" : "MISSED"}')"
printf '  batch / sum of singles: %s\n' "$(echo "$batch $sum" | awk '{printf "%.3f", $1 / $2}')"
