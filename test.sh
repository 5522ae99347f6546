#!/usr/bin/env bash
# Builds everything and runs every test: a normal build, a short fixed run of
# each fuzz target, and a build under AddressSanitizer and
# UndefinedBehaviorSanitizer, whose test run comes last so that its summary
# ends the output. Installs what it needs first.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh

jobs=$(nproc)
fuzz_seconds=${KST_FUZZ_SECONDS:-20}
step() { echo; echo "=== $*"; }

# Lists the tests that the last ctest run in build folder $1 skipped, each
# with the reason it gave: GoogleTest writes it after "FILE:LINE: Skipped",
# and ctest keeps every test's output in Testing/Temporary/LastTest.log.
skipped_tests() {
  local log=$1/Testing/Temporary/LastTest.log
  [[ -f $log ]] || return 0
  awk -v file="$log" '
    /^[0-9]+\/[0-9]+ Test: / { name = $0; sub(/^[0-9]+\/[0-9]+ Test: /, "", name)
                              reason = ""; taking = 0; skipped = 0; next }
    /: Skipped$/ { taking = 1; skipped = 1; next }
    taking && /^\[  SKIPPED \]/ { taking = 0 }
    taking { reason = reason (reason == "" ? "" : " ") $0; next }
    /^Skip regular expression found in output/ { skipped = 1 }
    /^"[^"]*" end time:/ && skipped {
      if (reason == "") reason = "(no reason in its output)"
      list = list "  " name ": " reason "\n"; n++
    }
    END {
      if (n == 0) print "no test was skipped"
      else printf "skipped: %d, each with its reason (their output is in %s):\n%s", n, file, list
    }' "$log"
}

# Runs the tests of build folder $1 with a time limit of $2 s per test, and
# ends with the skipped ones, whatever the run's outcome.
run_tests() {
  local status=0
  ctest --test-dir "$1" --output-on-failure -j "$jobs" --timeout "$2" || status=$?
  skipped_tests "$1"
  return "$status"
}

step "build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"

step "tests"
run_tests build 300

step "fuzz targets, $fuzz_seconds s each"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKST_FUZZ=ON >/dev/null
# Read whole first: grep -q ending the pipe early would fail it (pipefail).
fuzz_targets=$(cmake --build build-fuzz --target help)
if grep -q '^kst_fuzz_all' <<<"$fuzz_targets"; then
  cmake --build build-fuzz -j "$jobs" --target kst_fuzz_all
  for target in build-fuzz/fuzz/*; do
    name=$(basename "$target")
    # Corpus, the target's own temporary files and what it finds stay in
    # build-fuzz, and go when nothing was found.
    work=$PWD/build-fuzz/run/$name
    rm -rf "$work"
    mkdir -p "$work/corpus" "$work/tmp"
    if TMPDIR=$work/tmp "$target" -max_total_time="$fuzz_seconds" -seed=1 -print_final_stats=0 \
        -artifact_prefix="$work/" "$work/corpus" >"$work/output.txt" 2>&1; then
      echo "$name: nothing found ($(grep -o 'Done [0-9]* runs' "$work/output.txt" | cut -d' ' -f2) runs)"
      rm -rf "$work"
    else
      cat "$work/output.txt"
      echo "fuzz target $name FAILED: its whole output is above; the input is in $work" >&2
      exit 1
    fi
  done
  rmdir build-fuzz/run 2>/dev/null || true
else
  echo "no fuzz targets"
fi

step "build with address and undefined-behaviour sanitizers"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKST_SANITIZE=ON -DKST_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs"

step "tests under sanitizers"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_tests build-asan 600
