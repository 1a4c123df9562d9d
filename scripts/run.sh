#!/usr/bin/env bash
# Sets up, builds the release preset and runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
echo "run.sh: the batch front end is not built yet; build and tests are in place."
