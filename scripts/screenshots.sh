#!/usr/bin/env bash
# Takes the README's screenshots of the window again, docs/form1.png and
# docs/form1_commands.png, under a real X server (Xvfb, 96 dpi): the window
# as it opens, then taller after "Générateur" over one sample photo.
#   scripts/screenshots.sh [PHOTO]      # default: the Elephants wallpaper
# BUILD=build/ci picks another build tree (default: the release preset).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh xvfb xauth
build=${BUILD:-build/release}
if [ "$build" = build/release ]; then cmake --preset release >/dev/null; fi
cmake --build "$build" --target form1_screenshots
photo=${1:-$(scripts/samples.sh)/Elephants.jpg}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/photos" "$work/thumbs"
cp "$photo" "$work/photos/"
xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" \
  "$build/src/gui/form1_screenshots" "$work/photos/" "$work/thumbs/" docs
