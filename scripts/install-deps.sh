#!/usr/bin/env bash
# Installs the Debian packages of scripts/packages.txt that are missing. The
# package manager's output goes to build/install-deps.log and is shown only
# when the installation fails.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
missing=()
while read -r pkg; do
  [[ -z "$pkg" || "$pkg" == \#* ]] && continue
  dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
done < "$here/packages.txt"
[[ ${#missing[@]} -eq 0 ]] && exit 0
mkdir -p "$here/../build"
log=$(cd "$here/../build" && pwd)/install-deps.log
echo "installing ${missing[*]} (the package manager's output goes to build/install-deps.log)"
sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"
if ! { $sudo apt-get update -q &&
       $sudo env DEBIAN_FRONTEND=noninteractive \
         apt-get install -y -q --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
  cat "$log"
  echo "installing the packages FAILED: the package manager's output is above" >&2
  exit 1
fi
