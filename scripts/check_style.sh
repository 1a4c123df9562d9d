#!/usr/bin/env bash
# The tree's style checks, run by scripts/test.sh after the ci build:
#   - every C++ file as clang-format (the repository's .clang-format) writes it;
#   - clang-tidy (the repository's .clang-tidy, tests/.clang-tidy for the
#     tests) over every source file of the build in BUILD (default build/ci),
#     with its compile commands. Any finding fails the run.
#   scripts/check_style.sh [BUILD]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/ci}

mapfile -t files < <(git ls-files '*.cpp' '*.h')
echo "check_style: clang-format over ${#files[@]} files"
clang-format --dry-run -Werror "${files[@]}"

# Our own sources only: not Qt's generated files in the build folder.
echo "check_style: clang-tidy over the sources of $build"
run-clang-tidy -quiet -p "$build" -j "$(nproc)" \
  "^$(pwd)/(src|tests|bench|fuzz|examples)/.*\.cpp$" > "$build/clang-tidy.log" 2>&1 ||
  status=$?
# run-clang-tidy exits 0 even on warnings in some versions: read its report.
if [[ ${status:-0} -ne 0 ]] || grep -qE '(warning|error): ' "$build/clang-tidy.log"; then
  grep -E -A3 '(warning|error): ' "$build/clang-tidy.log" | head -200
  echo "check_style: clang-tidy found the problems above (whole log: $build/clang-tidy.log)"
  exit 1
fi
echo "check_style: clean"
