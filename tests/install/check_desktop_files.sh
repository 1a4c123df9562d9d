#!/usr/bin/env bash
# check_desktop_files.sh STAGE
# The installed desktop entry and AppStream metainfo pass the freedesktop
# validators (skipped, exit 77, when neither validator is installed).
set -euo pipefail
stage=$1
desktop=$stage/share/applications/io.github.vignettes.Vignettes.desktop
metainfo=$stage/share/metainfo/io.github.vignettes.Vignettes.metainfo.xml
ran=0
if command -v desktop-file-validate >/dev/null; then
  out=$(desktop-file-validate "$desktop" 2>&1) || { echo "$out" >&2; exit 1; }
  # It exits 0 on hints and warnings too: any output is a finding.
  if [ -n "$out" ]; then echo "$out" >&2; exit 1; fi
  ran=1
else
  echo "desktop-file-validate not installed (desktop-file-utils)"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net --no-color "$metainfo"
  ran=1
else
  echo "appstreamcli not installed (appstream)"
fi
[ "$ran" = 1 ] || exit 77
