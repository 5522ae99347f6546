#!/bin/sh
# The end-to-end test: the whole road, small and quick, in its own
# temporary installation, which is removed when the road succeeds.
#   road_test.sh BIN_DIR
set -eu
KESTRANE_HOME=$(mktemp -d "${TMPDIR:-/tmp}/kst-road-XXXXXX")
export KESTRANE_HOME
# On failure road.sh says where the installation stays.
"$(dirname "$0")/road.sh" "$1" --fast
# The road ends with its services stopped: none of its programs runs on.
. "$(dirname "$0")/services.sh"
nothing_runs_in "$KESTRANE_HOME"
rm -rf "$KESTRANE_HOME"
