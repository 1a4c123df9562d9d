#!/usr/bin/env bash
# Installs what is missing, builds with the ci preset (AddressSanitizer +
# UndefinedBehaviorSanitizer, warnings as errors) and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
preset=${VG_TEST_PRESET:-ci}
cmake --preset "$preset"
cmake --build --preset "$preset" -j "$(nproc)"
export QT_QPA_PLATFORM=offscreen
ctest --preset "$preset" -j "$(nproc)"
