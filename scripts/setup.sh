#!/usr/bin/env bash
# Installs the Debian packages that Vignettes needs to build, test and run.
# Packages already present are left alone; nothing is installed when all are.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev libgl-dev fonts-liberation fonts-wqy-microhei
  libturbojpeg0-dev libjpeg62-turbo-dev
  libsqlite3-dev liblcms2-dev libpng-dev zlib1g-dev libdeflate-dev libicu-dev
  libfreetype-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  dpkg-dev groff-base man-db desktop-file-utils appstream bash-completion
  libwebp-dev libtiff-dev libheif-dev libde265-dev libraw-dev libseccomp-dev
  webp libtiff-tools libheif-examples
  clang-format clang-tidy
  parallel jq slurmctld slurmd slurm-client munge
  python3-gi gir1.2-gnomedesktop-3.0 gir1.2-gdkpixbuf-2.0 bubblewrap tumbler dbus
  libgdk-pixbuf2.0-bin shared-mime-info
)
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  echo "setup: installing ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
