#!/usr/bin/env bash
# Installs what is missing, builds with the ci preset (AddressSanitizer +
# UndefinedBehaviorSanitizer, warnings as errors) and runs every test, checks
# the style (clang-format, clang-tidy: scripts/check_style.sh), then builds
# the optimised release preset and runs every test again: -O2 code, the SIMD
# paths and timing without the sanitizers' slowdown can fail where the
# sanitized build passes. VG_TEST_RELEASE=0 skips the second pass, and
# VG_CHECK_STYLE=0 the style checks.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
preset=${VG_TEST_PRESET:-ci}
cmake --preset "$preset"
cmake --build --preset "$preset" -j "$(nproc)"
export QT_QPA_PLATFORM=offscreen
ctest --preset "$preset" -j "$(nproc)"
if [[ "${VG_CHECK_STYLE:-1}" == 1 ]]; then
  scripts/check_style.sh "build/$preset"
fi

if [[ "${VG_TEST_RELEASE:-1}" == 1 && "$preset" != release ]]; then
  cmake --preset release
  cmake --build --preset release -j "$(nproc)"
  ctest --preset release -j "$(nproc)"
fi
