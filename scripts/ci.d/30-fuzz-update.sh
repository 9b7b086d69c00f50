#!/usr/bin/env bash
# Fuzzes the update line assembly and handler for about 45 s (libFuzzer, clang).
#   $1 build folder, $2 source folder
set -euo pipefail
BUILD=${1:?build folder}
SRC=${2:?source folder}
FUZZ_BUILD="$BUILD/fuzz-update"
SECONDS_TO_RUN=${FUZZ_SECONDS:-45}

echo "fuzz/update: line assembly + module-line handler on arbitrary byte streams, ${SECONDS_TO_RUN}s"
cmake -S "$SRC" -B "$FUZZ_BUILD" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTIDELOAD_FUZZ=ON -DTIDELOAD_QT=OFF -DTIDELOAD_TESTS=OFF -DTIDELOAD_BENCH=OFF >/dev/null
cmake --build "$FUZZ_BUILD" --target fuzz_update -j2 >/dev/null

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
# The fuzzer writes its sample file and any crash into WORK, its corpus
# into WORK/corpus; nothing outside.
mkdir "$WORK/corpus"
cp "$SRC"/fuzz/update/corpus/* "$WORK/corpus/"
cd "$WORK"
# -max_len keeps single inputs small; the idle time-out makes every run end.
if "$FUZZ_BUILD/fuzz_update" -max_total_time="$SECONDS_TO_RUN" -max_len=4096 -timeout=10 \
     -rss_limit_mb=2048 -print_final_stats=1 "$WORK/corpus" >"$WORK/log.txt" 2>&1; then
  grep -E '^stat::number_of_executed_units|^Done' "$WORK/log.txt" || true
  echo "fuzz/update: no failure"
else
  tail -n 60 "$WORK/log.txt"
  for crash in "$WORK"/crash-* "$WORK"/leak-* "$WORK"/timeout-* "$WORK"/oom-*; do
    [ -e "$crash" ] && cp "$crash" "$BUILD/" && echo "kept $BUILD/$(basename "$crash")"
  done
  echo "fuzz/update: FAILED"
  exit 1
fi
