#!/usr/bin/env bash
# Fuzzes every libFuzzer target for a bounded time, with ASan and UBSan, in
# one clang build. Each run works in a folder of its own (its corpus, the
# files it writes, any crash) and nothing it writes lands elsewhere.
#   20-fuzz.sh BUILD_DIR SOURCE_DIR        FUZZ_SECONDS per target (30)
set -euo pipefail
build=${1:?usage: $0 BUILD_DIR SOURCE_DIR}
source=${2:?usage: $0 BUILD_DIR SOURCE_DIR}
seconds=${FUZZ_SECONDS:-30}
fuzzbuild="$build/fuzz-clang"

# target, seed folder, the longest input
targets=(
  "fuzz_srecord   srecord   4096"
  "fuzz_registry  registry  8192"
  "fuzz_update    update    4096"
  "fuzz_discovery discovery 4096"
  "fuzz_find_output find_output 8192"
)

echo "fuzz: building every target with clang in $fuzzbuild"
CC=clang CXX=clang++ cmake -S "$source" -B "$fuzzbuild" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTIDELOAD_FUZZ=ON -DTIDELOAD_QT=OFF -DTIDELOAD_TESTS=OFF -DTIDELOAD_BENCH=OFF >/dev/null
cmake --build "$fuzzbuild" --target fuzz_srecord fuzz_registry fuzz_update fuzz_discovery fuzz_find_output -j2 >/dev/null

failed=0
for line in "${targets[@]}"; do
  read -r target seeds maxlen <<<"$line"
  work="$fuzzbuild/$target-work"  # kept after a failure, replaced by the next run
  rm -rf "$work"
  mkdir -p "$work/corpus"
  cp "$source/fuzz/$seeds/corpus/"* "$work/corpus/"
  echo "fuzz: $target for ${seconds}s on $(ls "$work/corpus" | wc -l) seed files"
  if (cd "$work" && "$fuzzbuild/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len="$maxlen" -print_final_stats=1 -artifact_prefix="$work/" corpus >log 2>&1); then
    grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$work/log" || true
  else
    tail -n 60 "$work/log"
    echo "fuzz: $target FAILED (input and log in $work)"
    failed=1
  fi
done
[ "$failed" -eq 0 ] && echo "fuzz: no crash, no sanitizer report"
exit "$failed"
