#!/usr/bin/env bash
# Runs every test: the unit and end-to-end tests, the same again under
# AddressSanitizer and UndefinedBehaviorSanitizer, then the bounded checks of
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

step "tests with AddressSanitizer and UndefinedBehaviorSanitizer ($SAN_DIR)"
cmake -S . -B "$SAN_DIR" -DCMAKE_BUILD_TYPE=Debug -DTIDELOAD_SANITIZE=ON -DTIDELOAD_BENCH=OFF >/dev/null &&
  cmake --build "$SAN_DIR" -j"$(nproc)" &&
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
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
