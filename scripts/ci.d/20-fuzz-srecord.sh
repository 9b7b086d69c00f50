#!/usr/bin/env bash
# Fuzzes the S-record loader for a bounded time with ASan + UBSan.
#   20-fuzz-srecord.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build="${1:?usage: $0 BUILD_DIR SOURCE_DIR}"
source="${2:-$(cd "$(dirname "$0")/../.." && pwd)}"
seconds="${FUZZ_SECONDS:-45}"
fuzzbuild="$build/fuzz-clang"

echo "fuzz-srecord: building the loader fuzzer with clang in $fuzzbuild"
CC=clang CXX=clang++ cmake -S "$source" -B "$fuzzbuild" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTIDELOAD_FUZZ=ON -DTIDELOAD_QT=OFF -DTIDELOAD_TESTS=OFF -DTIDELOAD_BENCH=OFF >/dev/null
cmake --build "$fuzzbuild" --target fuzz_srecord -j2 >/dev/null

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus" "$fuzzbuild/fuzz-artifacts"
cp "$source"/fuzz/srecord/corpus/* "$work/corpus/"

echo "fuzz-srecord: running ${seconds}s on $(ls "$work/corpus" | wc -l) seed files"
if ! "$fuzzbuild/fuzz_srecord" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=4096 -print_final_stats=1 -artifact_prefix="$fuzzbuild/fuzz-artifacts/" \
    "$work/corpus" >"$work/log" 2>&1; then
  tail -n 60 "$work/log"
  echo "fuzz-srecord: FAILED (artifacts in $fuzzbuild/fuzz-artifacts/)"
  exit 1
fi
grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$work/log" || true
echo "fuzz-srecord: no crash, no sanitizer report"
