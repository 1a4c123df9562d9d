#!/usr/bin/env bash
# stage.sh CMAKE BUILD_DIR STAGE
# Installs the build tree into STAGE with `cmake --install`, as a user would.
# The build tree's install_manifest.txt (what a real install wrote, for
# uninstalling) is kept as it was.
set -euo pipefail
cmake=$1 build=$2 stage=$3

manifest=$build/install_manifest.txt
saved=""
if [ -e "$manifest" ]; then
  saved=$(mktemp)
  cp -p "$manifest" "$saved"
fi
restore() {
  if [ -n "$saved" ]; then mv -f "$saved" "$manifest"; else rm -f "$manifest"; fi
}
trap restore EXIT

rm -rf "$stage"
"$cmake" --install "$build" --prefix "$stage"
test -x "$stage/bin/vignettes"
