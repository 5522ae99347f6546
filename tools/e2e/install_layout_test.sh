#!/bin/sh
# `cmake --install` into a temporary prefix: only the administrator's tools
# in bin, on the path; the services, the exporter, the plug-ins and `net`
# (a name other packages use too) in lib/kestrane; the systemd unit starting
# the services with the kstctl of bin.
#   install_layout_test.sh BUILD_DIR CMAKE
set -eu
PREFIX=$(mktemp -d "${TMPDIR:-/tmp}/kst-prefix-XXXXXX")
trap 'rm -rf "$PREFIX"' EXIT
"$2" --install "$1" --prefix "$PREFIX" >/dev/null
found=$(cd "$PREFIX" && find . -type f | LC_ALL=C sort)
expected="./bin/KestraneConsole
./bin/kstctl
./lib/kestrane/Discovery.so
./lib/kestrane/KestraneAlerter.so
./lib/kestrane/KestraneChecker
./lib/kestrane/KestraneCollector
./lib/kestrane/KestraneExporter
./lib/kestrane/net
./lib/systemd/system/kestrane-services.service"
if [ "$found" != "$expected" ]; then
  printf 'cmake --install put:\n%s\n\nnot:\n%s\n' "$found" "$expected" >&2
  exit 1
fi
unit=$PREFIX/lib/systemd/system/kestrane-services.service
grep -q '^ExecStart=/.*/bin/kstctl svc start-all$' "$unit" || {
  echo "the unit does not start the services with bin/kstctl:" >&2
  cat "$unit" >&2
  exit 1
}
echo "install layout as expected"
