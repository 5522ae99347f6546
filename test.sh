#!/usr/bin/env bash
# Builds everything and runs every test: a normal build, a build under
# AddressSanitizer and UndefinedBehaviorSanitizer, and a short fixed run of
# each fuzz target. Installs what it needs first.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh

jobs=$(nproc)
step() { echo; echo "=== $*"; }

step "build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"

step "tests"
ctest --test-dir build --output-on-failure -j "$jobs" --timeout 300

step "build with address and undefined-behaviour sanitizers"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKST_SANITIZE=ON -DKST_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs"

step "tests under sanitizers"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs" --timeout 600

step "fuzz targets"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKST_FUZZ=ON >/dev/null
if cmake --build build-fuzz -j "$jobs" --target help | grep -q '^kst_fuzz_all'; then
  cmake --build build-fuzz -j "$jobs" --target kst_fuzz_all
  for target in build-fuzz/fuzz/*; do
    echo "fuzzing $(basename "$target") for ${KST_FUZZ_SECONDS:-20} s"
    corpus=$(mktemp -d)
    "$target" -max_total_time="${KST_FUZZ_SECONDS:-20}" -seed=1 -print_final_stats=0 "$corpus" 2>&1 | tail -n 2
    rm -rf "$corpus"
  done
else
  echo "no fuzz targets"
fi
