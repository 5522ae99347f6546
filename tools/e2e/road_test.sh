#!/bin/sh
# The end-to-end test: the whole road, small and quick, in its own
# temporary installation, which is removed when the road succeeds.
#   road_test.sh BIN_DIR
set -eu
KESTRANE_HOME=$(mktemp -d /tmp/kst-road-XXXXXX)
export KESTRANE_HOME
# On failure road.sh says where the installation stays.
"$(dirname "$0")/road.sh" "$1" --fast
# The road ends with its services stopped: none of its programs runs on.
for cmdline in /proc/[0-9]*/cmdline; do
  running=$(tr '\0' ' ' < "$cmdline" 2>/dev/null || true)
  case "$running" in
    "$KESTRANE_HOME/"*)
      echo "road_test: still running after the road: $running" >&2
      exit 1
      ;;
  esac
done
rm -rf "$KESTRANE_HOME"
