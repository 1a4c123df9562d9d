#!/usr/bin/env bash
# check_man_pages.sh STAGE VERSION
# The installed manual pages are compressed as Debian policy asks (gzip -9n:
# no file name, no time stamp), open with man, format without a single groff
# warning, carry this version, and describe every option and command that
# the programs' own --help lists (skipped, exit 77, without groff or man).
set -euo pipefail
stage=$1 version=$2
command -v groff >/dev/null || { echo "groff not installed"; exit 77; }
command -v man >/dev/null || { echo "man not installed"; exit 77; }
fail=0
bad() { echo "FAIL: $*" >&2; fail=1; }

for program in vignettes vignettes-reg vignettes-thumbnailer; do
  gz=$stage/share/man/man1/$program.1.gz
  if [ ! -s "$gz" ]; then bad "$gz missing"; continue; fi
  [ ! -e "${gz%.gz}" ] || bad "$program.1 also installed uncompressed"
  # The gzip header: magic 1f 8b, deflate (8), no flags (so no file name),
  # time stamp 0, and 2 in the extra flags: the slowest, best compression.
  header=$(od -An -tx1 -N9 "$gz" | tr -d ' \n')
  [ "$header" = 1f8b08000000000002 ] ||
    bad "$program.1.gz header $header, not that of gzip -9n"
  gzip -t "$gz" || bad "$program.1.gz does not decompress"
  page=$(gzip -dc "$gz")

  # man finds and formats the compressed page by its own name in the tree.
  rendered=$(MANPATH=$stage/share/man MANWIDTH=80 MANPAGER=cat \
             LC_ALL=C.UTF-8 man 1 "$program" 2>&1) ||
    bad "man 1 $program failed: $rendered"
  grep -q "^NAME" <<<"$rendered" || bad "man 1 $program shows no NAME section"
  warnings=$(LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z <<<"$page" 2>&1) ||
    bad "groff failed on $program.1"
  [ -z "$warnings" ] || bad "$program.1: $warnings"
  grep -q "^\.TH .*\"Vignettes $version\"" <<<"$page" ||
    bad "$program.1 is not marked Vignettes $version"

  help=$("$stage/bin/$program" --help)
  # Long and short options (--origin, -j), reg's switches (/ve) and commands.
  words=$( (grep -oE '(^|[ [(])(--?[a-z][a-z-]*|/[a-z]+)' <<<"$help" || true) |
          sed 's/^[ [(]//' | sort -u)
  words+=" "$( (grep -oE '^  [a-z]+ ' <<<"$help" || true) | tr -d ' ' | sort -u)
  [ -n "${words// /}" ] || bad "no option found in $program --help"
  for w in $words; do
    roff=${w//-/\\-}
    grep -qF -- "$roff" <<<"$page" || bad "$program.1 does not mention $w"
  done
done
exit $fail
