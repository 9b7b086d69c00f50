#!/bin/bash
# Many simulated modules in a private namespace LAN, paced at about 2 s
# each, all updated with one large image in one call (--jobs as many as
# there are modules). Prints, beside the image size, the longest time a
# module waited between asking for the placement (102) and getting it, and
# tideload-cli's peak memory; the goals are 0.2 s and 2 x image + 100 MB.
# Then one module that asks for the placement again and again and reads
# nothing: tideload-cli's peak memory until it gives up (goal: under 64 MB).
#   bench/fleet/batch_bench.sh [BUILD_DIR [SOURCE_DIR [MODULES [MIB]]]]
# Defaults: build/, this script's project, 200 modules, 16 MiB. CLI names
# another tideload-cli to measure (an older build, say).
set -u
SRC=${2:-$(cd "$(dirname "$0")/../.." && pwd)}
BUILD=$(cd "${1:-$SRC/build}" && pwd) || exit 1
N=${3:-200} MIB=${4:-16}
CLI=${CLI:-$BUILD/tideload-cli}
export TESTLAN="tlt$$"
L="$SRC/scripts/testlan.sh"
WORK=$(mktemp -d)
trap '"$L" down >/dev/null 2>&1; rm -rf "$WORK"' EXIT
if ! "$L" check; then echo "batch_bench: skipped, no namespaces"; exit 0; fi

SIZE=$((MIB * 1024 * 1024))
python3 "$SRC/scripts/make_demo_app.py" --size "$SIZE" "$WORK/big_APP.s19" || exit 1
"$L" up "$N" >/dev/null || exit 1
addresses=()
for i in $(seq "$N"); do
  "$L" exec "m$i" "$BUILD/tideload-sim" --listen "10.77.1.$i" --pace 20 --expect-length "$SIZE" \
    --ready-file "$WORK/ready$i" >/dev/null 2>"$WORK/sim$i.log" &
  addresses+=("10.77.1.$i")
done
for i in $(seq "$N"); do
  for _ in $(seq 400); do [ -e "$WORK/ready$i" ] && break; sleep 0.05; done
  [ -e "$WORK/ready$i" ] || { echo "batch_bench: module $i did not start"; exit 1; }
done

# peak OUT CMD...: runs CMD with its stdout in OUT; prints the peak resident
# size (KiB) as the system counts it for children, and the exit status.
peak() {
  python3 - "$@" 3>"$1" <<'PY'
import os, resource, subprocess, sys
with os.fdopen(3, "w") as out:
    status = subprocess.run(sys.argv[2:], stdout=out, stderr=subprocess.DEVNULL).returncode
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss, status)
PY
}

started=$(date +%s.%N)
read -r peak_kib status < <(peak "$WORK/batch.json" "$L" exec prog "$CLI" update --json --jobs "$N" "${addresses[@]}" \
  "$WORK/big_APP.s19")
took=$(echo "$(date +%s.%N) $started" | awk '{printf "%.1f", $1 - $2}')
wait
ok=$(grep -c '"result": "ok"' "$WORK/batch.json")
waits=$(grep -ho 'placement [0-9.]* ms after 102' "$WORK"/sim*.log | awk '{print $2}' | sort -n)
slowest=$(tail -n 1 <<<"$waits")
answered=$(grep -c . <<<"$waits")

echo "batch in the LAN: $N modules paced at about 2 s, --jobs $N, image $MIB MiB ($SIZE bytes)"
printf '  %d of %d ok in %s s, exit status %d\n' "$ok" "$N" "$took" "$status"
printf '  placement after 102: slowest %.1f ms of %d (goal: at most 200 ms) %s\n' "${slowest:-0}" "$answered" \
  "$(awk -v s="${slowest:-1e9}" -v n="$answered" -v all="$N" 'BEGIN { print (s <= 200 && n == all) ? "met" : "MISSED" }')"
limit_mib=$((2 * MIB + 100))
printf '  peak memory of tideload-cli: %.1f MiB (goal: at most 2 x %d + 100 = %d MiB) %s\n' \
  "$(awk -v k="$peak_kib" 'BEGIN { print k / 1024 }')" "$MIB" "$limit_mib" \
  "$(awk -v k="$peak_kib" -v l="$limit_mib" 'BEGIN { print (k / 1024 <= l) ? "met" : "MISSED" }')"

"$L" exec m1 "$BUILD/tideload-sim" --listen 10.77.1.1 --repeat-at 102 --ready-file "$WORK/flood.ready" \
  >/dev/null 2>"$WORK/flood.log" &
for _ in $(seq 400); do [ -e "$WORK/flood.ready" ] && break; sleep 0.05; done
started=$(date +%s.%N)
read -r flood_kib flood_status < <(peak "$WORK/flood.json" "$L" exec prog "$CLI" update --json 10.77.1.1 \
  "$SRC/examples/demo_APP.s19")
took=$(echo "$(date +%s.%N) $started" | awk '{printf "%.1f", $1 - $2}')
wait
printf '  a module asking 102 again and again, reading nothing: %s after %s s, peak memory %.1f MiB (goal: under 64 MiB) %s\n' \
  "$(grep -o '"result": "[a-z-]*"' "$WORK/flood.json" | cut -d'"' -f4)" "$took" \
  "$(awk -v k="$flood_kib" 'BEGIN { print k / 1024 }')" \
  "$(awk -v k="$flood_kib" 'BEGIN { print (k / 1024 < 64) ? "met" : "MISSED" }')"
