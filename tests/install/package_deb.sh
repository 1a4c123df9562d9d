#!/usr/bin/env bash
# package_deb.sh CPACK BUILD_DIR VERSION SCRATCH JPEG_TOOL [WINDOW]
# Makes the Debian package of the build tree, checks its control fields and
# contents, unpacks it into a scratch root with dpkg -x (nothing is installed
# on the machine) and runs the programs from there: the version, and a batch
# over a folder of two generated JPEGs at width 50.
# Skipped (exit 77) where dpkg is not the package manager. WINDOW is OFF
# for a build without the window: no Qt Widgets, no desktop entry.
set -euo pipefail
cpack=$1 build=$2 version=$3 scratch=$4 jpeg_tool=$5 window=${6:-ON}
command -v dpkg-deb >/dev/null || { echo "dpkg-deb not installed"; exit 77; }
fail=0
bad() { echo "FAIL: $*" >&2; fail=1; }

# cpack writes install_manifest_Runtime.txt into the build tree: keep what
# was there.
manifest=$build/install_manifest_Runtime.txt
saved=""
if [ -e "$manifest" ]; then saved=$(mktemp); cp -p "$manifest" "$saved"; fi
restore() {
  if [ -n "$saved" ]; then mv -f "$saved" "$manifest"; else rm -f "$manifest"; fi
}
trap restore EXIT

rm -rf "$scratch"
mkdir -p "$scratch"
"$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out"
deb=$scratch/out/vignettes_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { ls -l "$scratch/out" >&2; bad "no $deb"; exit 1; }

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = vignettes ] || bad "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || bad "Version: $(field Version)"
[ "$(field Section)" = graphics ] || bad "Section: $(field Section)"
[[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] ||
  bad "Maintainer: $(field Maintainer)"
[ -n "$(field Description)" ] || bad "no Description"
# Depends comes from the libraries the programs link, and names the window's
# font.
depends=$(field Depends)
for p in libc6 libstdc++6 \
         $([ "$window" = ON ] && echo libqt6widgets6 fonts-liberation) \
         libqt6gui6 libqt6core6 libjpeg62-turbo libturbojpeg0 libsqlite3-0 liblcms2-2; do
  [[ ", $depends," == *", $p"[\ ,]* ]] || bad "Depends lacks $p: $depends"
done
# ICU, for the file names; its package is named after its version.
[[ ", $depends," =~ ,\ libicu[0-9]+[\ ,] ]] || bad "Depends lacks libicu: $depends"

# The programs and their data only: no headers or static libraries.
contents=$(dpkg-deb -c "$deb")
for f in ./usr/bin/vignettes ./usr/bin/vignettes-reg \
         ./usr/share/vignettes/test_picture.jpg \
         $([ "$window" = ON ] &&
           echo ./usr/share/applications/io.github.vignettes.Vignettes.desktop) \
         ./usr/share/man/man1/vignettes.1.gz \
         ./usr/share/man/man1/vignettes-reg.1.gz \
         ./usr/share/doc/vignettes/copyright \
         ./usr/share/bash-completion/completions/vignettes \
         ./usr/share/bash-completion/completions/vignettes-reg \
         ./usr/libexec/vignettes/vignettes-decoder; do
  grep -qF " $f" <<<"$contents" || bad "package lacks $f"
done
if grep -qE '\./usr/(include/|lib/.*\.a$)' <<<"$contents"; then
  bad "package carries the library: $(grep -E 'include/|\.a$' <<<"$contents" | head -3)"
fi

root=$scratch/root
dpkg -x "$deb" "$root"
out=$("$root/usr/bin/vignettes" --version) || bad "vignettes --version failed"
[ "$(head -1 <<<"$out")" = "vignettes $version" ] ||
  bad "vignettes --version says '$out'"
# Its decoder processes, from the package's libexec folder.
grep -q "^  seccomp allow-list: yes" <<<"$out" ||
  bad "the packaged decoder program did not start: '$out'"
"$root/usr/bin/vignettes-reg" --help >/dev/null || bad "vignettes-reg --help failed"

photos=$scratch/photos thumbs=$scratch/thumbs
mkdir -p "$photos"
"$jpeg_tool" make "$photos/wide.jpg" 200 100
"$jpeg_tool" make "$photos/tall.jpg" 60 90
"$root/usr/bin/vignettes" --origin "$photos" --dest "$thumbs" --width 50 -j 1 -q ||
  bad "batch failed with status $?"
[ "$("$jpeg_tool" size "$thumbs/wide.jpg")" = "50 25" ] || bad "wide.jpg not 50x25"
[ "$("$jpeg_tool" size "$thumbs/tall.jpg")" = "50 75" ] || bad "tall.jpg not 50x75"
[ "$(ls "$thumbs" | wc -l)" = 2 ] || bad "thumbs holds $(ls "$thumbs")"

exit $fail
