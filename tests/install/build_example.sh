#!/usr/bin/env bash
# build_example.sh STAGE SOURCE_DIR WORK CMAKE GENERATOR CXX JPEG_TOOL
# Builds programs of their own against the tree installed in STAGE, found
# with find_package(Vignettes) through CMAKE_PREFIX_PATH alone:
#   examples/          the README's example, then runs it: a JPEG written
#                      and a value in a registry store of its own
#   tests/install/consumer   every installed header compiled on its own
# A sanitized build installs libraries that ask for the sanitizer run-time
# at link time, so the same compiler is all these builds need.
set -euo pipefail
stage=$1 source=$2 work=$3 cmake=$4 generator=$5 cxx=$6 jpeg_tool=$7
rm -rf "$work"
mkdir -p "$work"

configure() {  # configure SOURCE BUILD
  "$cmake" -S "$1" -B "$2" -G "$generator" -DCMAKE_CXX_COMPILER="$cxx" \
    -DCMAKE_BUILD_TYPE=Debug -DCMAKE_PREFIX_PATH="$stage" \
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF \
    -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF
  # The package came from the stage, not from some other installation.
  grep -qF "Vignettes_DIR:PATH=$stage/" "$2/CMakeCache.txt" ||
    { echo "FAIL: Vignettes found elsewhere:" >&2;
      grep Vignettes_DIR "$2/CMakeCache.txt" >&2; exit 1; }
}

configure "$source/examples" "$work/example"
"$cmake" --build "$work/example"
picture=$work/noise.jpg store=$work/store.sqlite3
"$work/example/noise_thumbnail" "$picture" "$store"
[ "$("$jpeg_tool" size "$picture")" = "160 120" ] ||
  { echo "FAIL: $picture is not a 160x120 JPEG" >&2; exit 1; }
value=$("$stage/bin/vignettes-reg" --store "$store" query \
        'HKCU\Software\Vignettes\Example' /v LastPicture)
grep -qF "LastPicture    REG_SZ    $picture" <<<"$value" ||
  { echo "FAIL: the store holds: $value" >&2; exit 1; }

configure "$source/tests/install/consumer" "$work/consumer"
"$cmake" --build "$work/consumer"
