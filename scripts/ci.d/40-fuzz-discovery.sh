#!/bin/bash
# Fuzzes reply decoding and the device-list merge for about 45 seconds.
# $1: the build folder (a sibling "-fuzz" folder is used), $2: the source folder.
set -euo pipefail
BUILD=${1:?build folder}
SRC=${2:?source folder}
FUZZ_BUILD="${BUILD}-fuzz"
SECONDS_TO_RUN=${FUZZ_SECONDS:-45}
echo "fuzz-discovery: reply decoding + merge, ${SECONDS_TO_RUN}s (build in $FUZZ_BUILD)"
if ! command -v clang++ >/dev/null; then echo "fuzz-discovery: clang++ not found" >&2; exit 1; fi
cmake -S "$SRC" -B "$FUZZ_BUILD" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTIDELOAD_FUZZ=ON -DTIDELOAD_QT=OFF -DTIDELOAD_TESTS=OFF -DTIDELOAD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined" >/dev/null
cmake --build "$FUZZ_BUILD" --target fuzz_discovery -j2 >/dev/null
CORPUS="$FUZZ_BUILD/corpus-discovery"
mkdir -p "$CORPUS"
# A seed: one well-formed reply from 10.0.0.1, then the same from loopback.
if [ -z "$(ls -A "$CORPUS")" ]; then
  {
    printf '\002\040OMBRQ'; head -c 148 /dev/zero; printf 'Seed\000App\000'
  } >"$CORPUS/seed1"
fi
"$FUZZ_BUILD/fuzz_discovery" -max_total_time="$SECONDS_TO_RUN" -max_len=4096 -timeout=10 \
  -rss_limit_mb=2048 -print_final_stats=1 "$CORPUS" 2>&1 | tail -15
echo "fuzz-discovery: no crash"
