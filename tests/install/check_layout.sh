#!/usr/bin/env bash
# check_layout.sh STAGE VERSION [WINDOW [SOURCE_DIR]]
# The installed tree holds the programs, their data and the library, each
# where its users look for it, and nothing of the build's own (tests, the
# window's libraries, fuzz targets). WINDOW is OFF for a build without the
# window, which installs no desktop entry, metainfo or icons.
set -euo pipefail
stage=$1 version=$2 window=${3:-ON} source_dir=${4:-}
cd "$stage"
fail=0
bad() { echo "FAIL: $*" >&2; fail=1; }

desktop=share/applications/io.github.vignettes.Vignettes.desktop
metainfo=share/metainfo/io.github.vignettes.Vignettes.metainfo.xml
for f in bin/vignettes bin/vignettes-reg bin/vignettes-thumbnailer \
         libexec/vignettes/vignettes-decoder; do
  [ -x "$f" ] || bad "$f missing or not executable"
done
window_files=()
if [ "$window" = ON ]; then
  window_files=("$desktop" "$metainfo"
                share/icons/hicolor/scalable/apps/vignettes.svg)
fi
for f in share/vignettes/test_picture.jpg "${window_files[@]}" \
         share/man/man1/vignettes.1.gz share/man/man1/vignettes-reg.1.gz \
         share/bash-completion/completions/vignettes \
         share/bash-completion/completions/vignettes-reg \
         share/bash-completion/completions/vignettes-thumbnailer \
         share/man/man1/vignettes-thumbnailer.1.gz \
         share/thumbnailers/vignettes.thumbnailer \
         share/doc/vignettes/copyright \
         include/vignettes/dib/c_dib_section.h \
         include/vignettes/dib/a_dib_section.h \
         include/vignettes/jpeg/librairie_graphique.h \
         include/vignettes/registry/registry_key.h \
         include/vignettes/text/to_dos_name.h \
         include/vignettes/text/replace_all.h \
         include/vignettes/registry/registry_store.h; do
  [ -s "$f" ] || bad "$f missing or empty"
done

# The desktop's thumbnailer entry names the installed program by its path.
entry=share/thumbnailers/vignettes.thumbnailer
if [ -s "$entry" ]; then
  grep -qx "Exec=$PWD/bin/vignettes-thumbnailer -s %s %u %o" "$entry" ||
    grep -qx "Exec=/[^ ]*/bin/vignettes-thumbnailer -s %s %u %o" "$entry" ||
    bad "$entry: no Exec line naming bin/vignettes-thumbnailer"
fi

# Icons: the size each PNG says in its header is the size of its folder.
for size in $([ "$window" = ON ] && echo 48 128 256); do
  png=share/icons/hicolor/${size}x${size}/apps/vignettes.png
  if [ ! -s "$png" ]; then bad "$png missing"; continue; fi
  read -r w1 w2 w3 w4 h1 h2 h3 h4 < <(od -An -tu1 -j16 -N8 "$png")
  w=$(( (w1 << 24) | (w2 << 16) | (w3 << 8) | w4 ))
  h=$(( (h1 << 24) | (h2 << 16) | (h3 << 8) | h4 ))
  [ "$w" = "$size" ] && [ "$h" = "$size" ] || bad "$png is ${w}x${h}"
done

# The library: one static library per reusable module and the package files.
libs=$(find . -name 'libvg_*' -printf '%f\n' | sort | tr '\n' ' ')
expected="libvg_dib.a libvg_image.a libvg_jpeg.a libvg_platform.a libvg_registry.a libvg_text.a "
[ "$libs" = "$expected" ] || bad "libraries: '$libs', expected '$expected'"
for f in VignettesConfig.cmake VignettesConfigVersion.cmake VignettesTargets.cmake; do
  [ -n "$(find . -path "*/cmake/Vignettes/$f")" ] || bad "$f missing"
done
grep -q "PACKAGE_VERSION \"$version\"" \
  "$(find . -name VignettesConfigVersion.cmake)" || bad "package version is not $version"
# SQLite is the registry's alone, ICU the file-name helpers': no other
# installed library asks for them.
users_of() {
  awk -v lib="$1" '/^set_target_properties\(vg::/ { t = $1; sub(/.*\(/, "", t) }
                   $0 ~ lib && t != "" { print t }
                   /^\)/ { t = "" }' "$(find . -name VignettesTargets.cmake)" |
    sort -u | tr '\n' ' '
}
sqlite_users=$(users_of SQLite)
[ "$sqlite_users" = "vg::registry " ] ||
  bad "SQLite linked by '$sqlite_users', expected by vg::registry alone"
icu_users=$(users_of ICU::)
[ "$icu_users" = "vg::text " ] ||
  bad "ICU linked by '$icu_users', expected by vg::text alone"

# Nothing else: every installed file is one of these kinds.
while IFS= read -r f; do
  case "$f" in
    ./bin/vignettes | ./bin/vignettes-reg | ./bin/vignettes-thumbnailer) ;;
    ./share/thumbnailers/vignettes.thumbnailer) ;;
    ./libexec/vignettes/vignettes-decoder) ;;
    ./share/vignettes/test_picture.jpg | "./$desktop" | "./$metainfo") ;;
    ./share/icons/hicolor/*/apps/vignettes.png) ;;
    ./share/icons/hicolor/scalable/apps/vignettes.svg) ;;
    ./share/man/man1/vignettes.1.gz | ./share/man/man1/vignettes-reg.1.gz) ;;
    ./share/man/man1/vignettes-thumbnailer.1.gz) ;;
    ./share/bash-completion/completions/vignettes) ;;
    ./share/bash-completion/completions/vignettes-reg) ;;
    ./share/bash-completion/completions/vignettes-thumbnailer) ;;
    ./share/doc/vignettes/copyright) ;;
    ./include/vignettes/platform/*.h | ./include/vignettes/text/*.h) ;;
    ./include/vignettes/dib/*.h | ./include/vignettes/jpeg/*.h) ;;
    ./include/vignettes/registry/*.h | ./include/vignettes/image/*.h) ;;
    ./lib*/libvg_*.a | ./lib*/cmake/Vignettes/Vignettes*.cmake) ;;
    *) bad "unexpected file $f" ;;
  esac
done < <(find . -type f -o -type l)

# The desktop entry starts the installed program with its installed icon, and
# the metainfo names that entry and this release.
if [ "$window" = ON ]; then
exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
[ -x "bin/$exec_name" ] || bad "Exec=$exec_name is not an installed program"
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -e "share/icons/hicolor/scalable/apps/$icon.svg" ] || bad "Icon=$icon has no icon"
grep -q "<launchable type=\"desktop-id\">$(basename "$desktop")</launchable>" \
  "$metainfo" || bad "metainfo does not launch $(basename "$desktop")"
grep -q "<release version=\"$version\"" "$metainfo" ||
  bad "metainfo has no release $version"
fi

# The installed program runs and says the same version, then what its
# installed decoder processes are confined by.
out=$(bin/vignettes --version) || bad "bin/vignettes --version failed"
[ "$(head -1 <<<"$out")" = "vignettes $version" ] ||
  bad "vignettes --version says '$out'"
grep -q "^  seccomp allow-list: yes" <<<"$out" ||
  bad "vignettes --version names no seccomp allow-list: '$out'"

# The decoders' libraries are the decoder program's alone: the programs that
# send it their pictures neither link nor load them.
for f in bin/vignettes bin/vignettes-thumbnailer; do
  [ -x "$f" ] || continue
  decoder_libs=$(readelf -d "$f" |
    grep -o -E 'lib(heif|raw_r|tiff|webp|jpeg|lcms2|freetype)\.so[.0-9]*' |
    tr '\n' ' ' || true)
  [ -z "$decoder_libs" ] || bad "$f links the decoders' $decoder_libs"
done

# Nothing installed names the machine it was built on: no path into the
# source or build tree (other than the install prefix itself, which the
# staged tree happens to lie under).
if [ -n "$source_dir" ]; then
  leaks=$(grep -r -a -o -h "$source_dir/[[:alnum:]_./+-]*" . |
    grep -v "^$stage" | sort -u | head -5 || true)
  [ -z "$leaks" ] || bad "installed files name the build machine's paths: $leaks"
fi

exit $fail
