#!/usr/bin/env bash
# Fuzzes the registry-file text (parse, write back, parse again) for a
# bounded time with ASan + UBSan. Shares the clang build of 20-fuzz-srecord.
#   25-fuzz-registry.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build="${1:?usage: $0 BUILD_DIR SOURCE_DIR}"
source="${2:-$(cd "$(dirname "$0")/../.." && pwd)}"
seconds="${FUZZ_SECONDS:-45}"
fuzzbuild="$build/fuzz-clang"

echo "fuzz-registry: building the hive text fuzzer with clang in $fuzzbuild"
CC=clang CXX=clang++ cmake -S "$source" -B "$fuzzbuild" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTIDELOAD_FUZZ=ON -DTIDELOAD_QT=OFF -DTIDELOAD_TESTS=OFF -DTIDELOAD_BENCH=OFF >/dev/null
cmake --build "$fuzzbuild" --target fuzz_registry -j2 >/dev/null

# Everything the fuzzer writes (corpus, artifacts, log) stays in here; it is
# kept after a failure and replaced by the next run.
work="$fuzzbuild/fuzz-registry-work"
rm -rf "$work"
mkdir -p "$work/corpus"
cp "$source"/fuzz/registry/corpus/* "$work/corpus/"
cd "$work"

echo "fuzz-registry: running ${seconds}s on $(ls corpus | wc -l) seed files"
if ! "$fuzzbuild/fuzz_registry" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=8192 -print_final_stats=1 -artifact_prefix="$work/" corpus >log 2>&1; then
  tail -n 60 log
  echo "fuzz-registry: FAILED (artifacts in $work)"
  exit 1
fi
grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' log || true
echo "fuzz-registry: no crash, no sanitizer report"
