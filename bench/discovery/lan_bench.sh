#!/bin/bash
# 749 module interfaces (the heard list's limit) on four hosts of a private
# namespace LAN, 30% of their replies dropped: how many does one search
# (request and three heard lists, 4.5 s) find? Then the merge benchmark.
#   bench/discovery/lan_bench.sh [BUILD_DIR [SOURCE_DIR [LOSS [SPREAD_MS [AFTER_S]]]]]
# BUILD_DIR defaults to build/ and SOURCE_DIR to the folder this script is in.
# AFTER_S: how long the program keeps listening after the third heard list
# (default 0: it stops at 4.5 s, before the answers to that list are in).
set -u
SRC=${2:-$(cd "$(dirname "$0")/../.." && pwd)}
BUILD=$(cd "${1:-$SRC/build}" && pwd) || exit 1
LOSS=${3:-0.3} SPREAD=${4:-300} AFTER=${5:-0}
export TESTLAN="tlt$$"
L="$SRC/scripts/testlan.sh"
WORK=$(mktemp -d)
trap '"$L" down >/dev/null 2>&1; rm -rf "$WORK"' EXIT
if ! "$L" check; then echo "lan_bench: skipped, no namespaces"; exit 0; fi
"$L" up 4 >/dev/null || exit 1
TOTAL=749 PER=188
start=0
for h in 1 2 3 4; do
  n=$PER; [ $h = 4 ] && n=$((TOTAL - 3 * PER))
  from=$(HOSTBYTE=$((100 + h)) "$L" addrs "m$h" "$n" | paste -sd,)
  "$L" exec "m$h" "$BUILD/tideload-sim" discover --count "$n" --count-start "$start" --count-from "$from" \
    --loss "$LOSS" --seed "$h" --spread "$SPREAD" --seconds 60 --ready-file "$WORK/ready$h" 2>"$WORK/sim$h.log" &
  start=$((start + n))
done
for h in 1 2 3 4; do for i in $(seq 100); do [ -e "$WORK/ready$h" ] && break; sleep 0.05; done; done
t0=$(date +%s.%N)
"$L" exec prog "$BUILD/tideload-cli" find --json --seconds "$AFTER" >"$WORK/out" 2>"$WORK/err"
t1=$(date +%s.%N)
found=$(grep -o '"label": "Sim-[0-9]*' "$WORK/out" | sort -u | wc -l)
"$L" down >/dev/null; sleep 0.3
never=$(sed -n 's/^never answered://p' "$WORK"/sim*.log | tr ' ' '\n' | grep -c . || true)
sent=$(sed -n 's/.*: \([0-9]*\) repl.* sent.*/\1/p' "$WORK"/sim*.log | awk '{s+=$1} END {print s+0}')
dropped=$(sed -n 's/.*sent, \([0-9]*\) dropped/\1/p' "$WORK"/sim*.log | awk '{s+=$1} END {print s+0}')
echo "discovery in the LAN: $TOTAL interfaces, loss $LOSS, replies spread over ${SPREAD} ms, listening ${AFTER} s after the third heard list"
printf '  one search took %.2f s\n' "$(echo "$t1 - $t0" | awk '{print $1 - $3}')"
echo "  found: $found of $TOTAL"
echo "  replies sent by the modules: $sent, dropped by the loss: $dropped"
echo "  interfaces whose every reply was dropped (not findable): $never"
echo "  found / findable: $found / $((TOTAL - never))"
"$BUILD/bench_discovery_merge" 200
