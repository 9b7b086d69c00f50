#!/usr/bin/env bash
# Runs every test: the unit and end-to-end tests, the same again under
# AddressSanitizer and UndefinedBehaviorSanitizer in a clang build of
# everything where every warning is an error, then the bounded checks of
# scripts/ci.d (fuzzing and the like). Expects scripts/setup.sh to have run.
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD_DIR=${BUILD_DIR:-build}
SAN_DIR=${SAN_DIR:-build-san}
failed=0

step() { printf '\n==== %s\n' "$*"; }

step "tests ($BUILD_DIR)"
ctest --test-dir "$BUILD_DIR" --output-on-failure -j2 --timeout 300 || failed=1

step "clang, every warning an error; the tests with AddressSanitizer and UndefinedBehaviorSanitizer ($SAN_DIR)"
# A load that asks for more memory than there is must get none, not an abort.
CC=clang CXX=clang++ cmake -S . -B "$SAN_DIR" -DCMAKE_BUILD_TYPE=Debug -DTIDELOAD_SANITIZE=ON \
    -DTIDELOAD_WERROR=ON >/dev/null &&
  cmake --build "$SAN_DIR" -j"$(nproc)" &&
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "$SAN_DIR" --output-on-failure -j2 --timeout 600 || failed=1

for script in scripts/ci.d/*.sh; do
  [ -e "$script" ] || continue
  step "$script"
  bash "$script" "$ROOT/$BUILD_DIR" "$ROOT" || failed=1
done

step "summary"
if [ "$failed" -ne 0 ]; then
  echo "some checks FAILED"
  exit 1
fi
echo "all checks passed"
