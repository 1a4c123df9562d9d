#!/usr/bin/env bash
# Prints the path of a folder of sample photos, fetching it on first use: the
# JPEG and PNG wallpapers of Debian's mate-backgrounds package (GPL/CC, see
# the package's copyright file, copied beside the photos). Nothing is
# installed: the package is downloaded and unpacked under build/samples/.
set -euo pipefail
cd "$(dirname "$0")/.."
dest=build/samples/photos
if [ -z "$(ls -A "$dest" 2>/dev/null)" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  if ! (cd "$work" && apt-get download mate-backgrounds >/dev/null 2>&1); then
    sudo_cmd=()
    if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
    "${sudo_cmd[@]}" apt-get update >/dev/null
    (cd "$work" && apt-get download mate-backgrounds >/dev/null)
  fi
  dpkg-deb -x "$work"/mate-backgrounds_*.deb "$work/root"
  mkdir -p "$dest"
  find "$work/root/usr/share/backgrounds" -type f \( -name '*.jpg' -o -name '*.png' \) \
    -exec cp {} "$dest/" \;
  cp "$work/root/usr/share/doc/mate-backgrounds/copyright" "$dest/../COPYRIGHT" 2>/dev/null || true
fi
echo "$dest"
