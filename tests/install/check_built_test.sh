#!/usr/bin/env bash
# check_built_test.sh CMAKE SOURCE_DIR
# What `cmake --install` runs first (cmake/CheckBuilt.cmake): a build that
# lacks files of the components being installed stops with their names and
# the command that builds them; one that has them all goes on. Stand-in
# files in a scratch folder, no build.
set -euo pipefail
cmake=$1 src=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail=0
bad() { echo "FAIL: $*" >&2; fail=1; }

mkdir -p "$scratch/build"
touch "$scratch/build/vignettes" "$scratch/build/libvg_text.a"
cat >"$scratch/check.cmake" <<CHECK
set(vg_build_dir "$scratch/build")
set(vg_built_Runtime "$scratch/build/vignettes" "$scratch/build/vignettes-reg")
set(vg_built_Development "$scratch/build/libvg_text.a" "$scratch/build/libvg_dib.a")
include("$src/cmake/CheckBuilt.cmake")
CHECK

# component ("-": all), the files it must name missing, those it must not
while read -r component missing present; do
  [ "$component" = - ] && component=""
  out=$("$cmake" -DCMAKE_INSTALL_COMPONENT="$component" -P "$scratch/check.cmake" 2>&1) &&
    bad "component '$component': not refused: $out"
  named=$(sed 's/^ *//' <<<"$out")
  for f in ${missing//,/ }; do
    grep -qxF "$scratch/build/$f" <<<"$named" || bad "'$f' not named: $out"
  done
  for f in ${present//,/ }; do
    grep -qxF "$scratch/build/$f" <<<"$named" && bad "'$f' named missing: $out"
  done
  grep -qF "cmake --build $scratch/build --target installable" <<<"$out" ||
    bad "no command to build them: $out"
done <<'CASES'
- vignettes-reg,libvg_dib.a vignettes,libvg_text.a
Runtime vignettes-reg libvg_dib.a,vignettes
Development libvg_dib.a vignettes-reg,libvg_text.a
CASES

touch "$scratch/build/vignettes-reg" "$scratch/build/libvg_dib.a"
"$cmake" -P "$scratch/check.cmake" >/dev/null 2>&1 ||
  bad "a whole build was refused"
exit $fail
