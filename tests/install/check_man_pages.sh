#!/usr/bin/env bash
# check_man_pages.sh STAGE VERSION
# The installed manual pages format without a single groff warning, carry
# this version, and describe every option and command that the programs'
# own --help lists (skipped, exit 77, without groff).
set -euo pipefail
stage=$1 version=$2
command -v groff >/dev/null || { echo "groff not installed"; exit 77; }
fail=0
bad() { echo "FAIL: $*" >&2; fail=1; }

for program in vignettes vignettes-reg; do
  page=$stage/share/man/man1/$program.1
  if [ ! -s "$page" ]; then bad "$page missing"; continue; fi
  warnings=$(LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z "$page" 2>&1) ||
    bad "groff failed on $program.1"
  [ -z "$warnings" ] || bad "$program.1: $warnings"
  grep -q "^\.TH .*\"Vignettes $version\"" "$page" ||
    bad "$program.1 is not marked Vignettes $version"

  help=$("$stage/bin/$program" --help)
  # Long and short options (--origin, -j), reg's switches (/ve) and commands.
  words=$( (grep -oE '(^|[ [(])(--?[a-z][a-z-]*|/[a-z]+)' <<<"$help" || true) |
          sed 's/^[ [(]//' | sort -u)
  words+=" "$( (grep -oE '^  [a-z]+ ' <<<"$help" || true) | tr -d ' ' | sort -u)
  [ -n "${words// /}" ] || bad "no option found in $program --help"
  for w in $words; do
    roff=${w//-/\\-}
    grep -qF -- "$roff" "$page" || bad "$program.1 does not mention $w"
  done
done
exit $fail
