#!/usr/bin/env bash
# The README's run command: installs what the build needs, builds every
# program (not the tests), and runs the road of one check on this machine in
# a private installation under /tmp (tools/e2e/road.sh tells each step).
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh

echo "=== build (a few minutes the first time; the compiler's output goes to build/run-build.log)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if ! cmake --build build -j "$(nproc)" --target kst_programs >build/run-build.log 2>&1; then
  cat build/run-build.log
  echo "build FAILED: its output is above and in build/run-build.log" >&2
  exit 1
fi

KESTRANE_HOME=$(mktemp -d /tmp/kestrane-run-XXXXXX)
export KESTRANE_HOME
exec tools/e2e/road.sh build/bin
