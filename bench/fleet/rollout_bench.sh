#!/bin/bash
# A rollout of many simulated modules in a private namespace LAN (two
# networks of hosts), paced at about 2 s each, with --waves 1,10%,100% and
# --jobs 50. Prints, from the modules' own clocks, the time from one wave's
# last ending to the next wave's first connect, and the whole rollout
# against the sum of the waves' own times and against the sum of their
# slowest updates (each wave's rounds of --jobs counted).
#   bench/fleet/rollout_bench.sh [BUILD_DIR [SOURCE_DIR [MODULES [JOBS]]]]
# Defaults: build/, this script's project, 500 modules (at most 500), 50.
set -u
SRC=${2:-$(cd "$(dirname "$0")/../.." && pwd)}
BUILD=$(cd "${1:-$SRC/build}" && pwd) || exit 1
N=${3:-500} JOBS=${4:-50}
CLI=${CLI:-$BUILD/tideload-cli}
export TESTLAN="tlt$$"
L="$SRC/scripts/testlan.sh"
WORK=$(mktemp -d)
trap '"$L" down >/dev/null 2>&1; rm -rf "$WORK"' EXIT
if ! "$L" check; then echo "rollout_bench: skipped, no namespaces"; exit 0; fi
[ "$N" -le 500 ] || { echo "rollout_bench: at most 500 modules"; exit 2; }

# Hosts m1..m250 on the first network, b1..b250 on the second.
first=$((N < 250 ? N : 250)) second=$((N - first))
"$L" up "$first" >/dev/null || exit 1
if [ "$second" -gt 0 ]; then "$L" bench "$second" >/dev/null || exit 1; fi
addresses=()
start_module() {  # start_module HOST ADDRESS
  "$L" exec "$1" "$BUILD/tideload-sim" --listen "$2" --pace 20 --times --ready-file "$WORK/ready.$2" \
    >/dev/null 2>"$WORK/sim.$2.log" &
  addresses+=("$2")
}
for i in $(seq "$first"); do start_module "m$i" "10.77.1.$i"; done
for i in $(seq "$second"); do start_module "b$i" "10.78.1.$i"; done
for a in "${addresses[@]}"; do
  for _ in $(seq 400); do [ -e "$WORK/ready.$a" ] && break; sleep 0.05; done
  [ -e "$WORK/ready.$a" ] || { echo "rollout_bench: module $a did not start"; exit 1; }
done

started=$(date +%s.%N)
"$L" exec prog "$CLI" update --json --waves 1,10%,100% --jobs "$JOBS" "${addresses[@]}" \
  "$SRC/examples/demo_APP.s19" >"$WORK/rollout.json" 2>/dev/null
status=$?
ended=$(date +%s.%N)
wait

# Each module's wave from the JSON, its connect and end from its own line.
for a in "${addresses[@]}"; do
  wave=$(grep -o "\"address\": \"$a\".*\"wave\": [0-9]*" "$WORK/rollout.json" | grep -o '[0-9]*$')
  times=$(grep -o 'connected at [0-9.]*, ended at [0-9.]*' "$WORK/sim.$a.log" | awk '{print $3, $6}')
  echo "$wave ${times:-- -}"
done | awk -v jobs="$JOBS" -v status="$status" -v wall="$(echo "$ended $started" | awk '{print $1 - $2}')" '
  $2 == "-" { missing++; next }
  {
    w = $1; c = $2 + 0; e = $3 + 0; n[w]++
    if (!(w in first) || c < first[w]) first[w] = c
    if (!(w in last) || e > last[w]) last[w] = e
    if (e - c > slowest[w]) slowest[w] = e - c
    if (w > waves) waves = w
  }
  END {
    ok = 0; total = last[waves] - first[1]
    printf "rollout in the LAN: %d modules paced at about 2 s, --waves 1,10%%,100%%, --jobs %d; exit status %d, %.1f s in all\n", NR, jobs, status, wall
    if (missing) printf "  %d modules were not updated\n", missing
    sumWaves = 0; sumSlowest = 0; sumRounds = 0
    for (w = 1; w <= waves; w++) {
      rounds = int((n[w] + jobs - 1) / jobs)
      printf "  wave %d: %d modules, %.2f s from its first connect to its last ending, slowest update %.2f s\n", w, n[w], last[w] - first[w], slowest[w]
      if (w > 1) printf "    from wave %d'"'"'s last ending to its first connect: %.3f s\n", w - 1, first[w] - last[w - 1]
      sumWaves += last[w] - first[w]; sumSlowest += slowest[w]; sumRounds += rounds * slowest[w]
    }
    printf "  rollout / sum of the waves'"'"' own times: %.3f (goal: at most 1.10) %s\n", total / sumWaves, (total / sumWaves <= 1.1) ? "met" : "MISSED"
    printf "  rollout / sum of the waves'"'"' slowest updates: %.2f (each wave in rounds of --jobs: %.3f)\n", total / sumSlowest, total / sumRounds
  }'
