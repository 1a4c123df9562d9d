#!/usr/bin/env bash
# bash_completion_test.sh DIR [VIGNETTES VIGNETTES_REG]
# The bash completions in DIR, sourced into a plain bash (no bash-completion
# package) and called as readline calls them, COMP_WORDS and COMP_CWORD set;
# the test asserts on COMPREPLY. Given the programs, it also checks that
# every option, command and switch their --help lists is offered.
set -uo pipefail
dir=$1 vignettes=${2:-} vignettes_reg=${3:-}
export LC_ALL=C
absolute() { [[ -z $1 || $1 == /* ]] && echo "$1" || echo "$PWD/$1"; }
dir=$(absolute "$dir") vignettes=$(absolute "$vignettes")
vignettes_reg=$(absolute "$vignettes_reg")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 1
mkdir photos "pics old" thumbs
touch photo.txt store.sqlite3
HOME=$scratch

# shellcheck source=/dev/null
source "$dir/vignettes" || exit 1
# shellcheck source=/dev/null
source "$dir/vignettes-reg" || exit 1
# shellcheck source=/dev/null
source "$dir/vignettes-thumbnailer" || exit 1

fail=0
bad() { echo "FAIL: $*" >&2; fail=1; }

for program in vignettes vignettes-reg vignettes-thumbnailer; do
  complete -p "$program" 2>/dev/null | grep -q -- "-F _" ||
    bad "no completion function registered for $program"
done

# Completes WORD... (the last one is the word under the cursor) with the
# function FN; prints the replies sorted, joined by "|".
complete_words() {
  local fn=$1
  shift
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMP_LINE="$*"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  "$fn" "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" ||
    echo "FAIL: $fn returned $? for $*" >&2
  ((${#COMPREPLY[@]})) && printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd '|'
}

# expect WANTED WORD...: the replies to the command line WORD... are WANTED.
expect() {
  local want=$1
  shift
  local fn=_vignettes
  [[ $1 == vignettes-reg ]] && fn=_vignettes_reg
  [[ $1 == vignettes-thumbnailer ]] && fn=_vignettes_thumbnailer
  local got
  got=$(complete_words "$fn" "$@")
  [[ $got == "$want" ]] || bad "$(printf '[%s] ' "$@")-> '$got', expected '$want'"
}

all_dirs='photos|pics old|thumbs'
all_files='photo.txt|photos|pics old|store.sqlite3|thumbs'
options='--cache|--decode-timeout|--dest|--files-from|--help|--jobs|--large|--null|--origin|--quiet|--recursive|--report|--shard|--small|--update|--version|--width|-0|-h|-j|-q|-r|-u'

# vignettes: options.
expect "$options" vignettes -
expect "--origin" vignettes --or
expect "--shard|--small" vignettes --origin photos --dest thumbs --s
expect "$options" vignettes --origin photos --dest thumbs --width 150 ""
# Folders, never files, after --origin and --dest, whatever way the value
# is attached: next word, "=" as its own word (COMP_WORDBREAKS holds "="),
# or glued when it does not; a unique prefix of the option works too.
expect "$all_dirs" vignettes --origin ""
expect "photos|pics old" vignettes --origin p
expect "thumbs" vignettes -q --dest th
expect "$all_dirs" vignettes --dest =
expect "photos|pics old" vignettes --origin = p
expect "thumbs" vignettes --de = th
expect "--origin=photos|--origin=pics old" vignettes --origin=p
expect "--ori=thumbs" vignettes --ori=t
expect "pics old" vignettes --origin "'pi"
expect "pics old" vignettes --origin '"pics o'
expect "pics old" vignettes --origin 'pics\ o'
# shellcheck disable=SC2088 # the tilde as typed, for the function to expand
expect "~/thumbs" vignettes --dest '~/th'
# A single folder opens the window.
expect "$all_dirs" vignettes ""
expect "photos" vignettes ph
# Files after --report and --files-from, the forms of --shard.
expect "$all_files" vignettes --report ""
expect "photo.txt|photos" vignettes -r --files-from = ph
expect "--report=store.sqlite3" vignettes --report=st
expect "auto|auto/" vignettes --shard a
# The sizes of --cache, glued to it, one after a comma too.
expect "large|normal|x-large|xx-large" vignettes --cache = ""
expect "--cache=x-large|--cache=xx-large" vignettes --cache=x
expect "normal,large" vignettes --cache = normal,l
expect "$options" vignettes --cache ""
expect "" vignettes --shard 1/
# Numbers and what takes no value get nothing.
expect "" vignettes --width ""
expect "" vignettes --jobs = ""
expect "" vignettes -qj ""
expect "" vignettes -j ""
expect "" vignettes --quiet = ""
expect "" vignettes --bogus = p
# After "--" the command line takes nothing.
expect "" vignettes --origin photos -- ""
expect "" vignettes -- -

# vignettes-reg: its own options and the store file.
expect "add|delete|export|query" vignettes-reg ""
expect "delete" vignettes-reg DE
expect "--help|--store|--version" vignettes-reg -
expect "$all_files" vignettes-reg --store ""
expect "store.sqlite3" vignettes-reg --store st
expect "store.sqlite3" vignettes-reg --st st
expect "store.sqlite3" vignettes-reg --store = st
expect "--store=store.sqlite3" vignettes-reg --store=st
expect "query" vignettes-reg --store store.sqlite3 q
expect "add|delete|export|query" vignettes-reg --store = store.sqlite3 ""
expect "" vignettes-reg --help = ""
# The roots of a KEY; nothing below them (the store is not read).
expect "HKCC|HKCR|HKCU" vignettes-reg query hkc
expect "HKEY_CURRENT_CONFIG|HKEY_CURRENT_USER" vignettes-reg add "'HKEY_CU"
expect "" vignettes-reg query 'HKCU\So'
expect "" vignettes-reg query "'HKCU\\So"
# Each command's switches, written with "/" or "-", in any case.
expect "/s|/v|/ve" vignettes-reg query HKCU /
expect "/s|/v|/ve" vignettes-reg query /
expect "/d|/f|/s|/t|/v|/ve" vignettes-reg add HKCU /v Width /
expect "-v|-va|-ve" vignettes-reg delete HKCU -v
expect "/y" vignettes-reg --store store.sqlite3 export HKCU out.reg /
# The values of switches: the types after /t, nothing after /v, /d and
# add's /s (a separator), while query's /s takes none.
types='REG_BINARY|REG_DWORD|REG_DWORD_BIG_ENDIAN|REG_EXPAND_SZ|REG_MULTI_SZ|REG_NONE|REG_QWORD|REG_SZ'
expect "$types" vignettes-reg add HKCU /t ""
expect "REG_DWORD|REG_DWORD_BIG_ENDIAN" vignettes-reg add HKCU -T reg_d
expect "" vignettes-reg add HKCU /v ""
expect "" vignettes-reg add HKCU /d ""
expect "" vignettes-reg add HKCU /s ""
expect "/s|/v|/ve" vignettes-reg query HKCU /s ""
expect "/d|/f|/s|/t|/v|/ve" vignettes-reg add HKCU /s , ""
# export KEY FILE: the file, or /y.
expect "/y|$all_files" vignettes-reg export HKCU ""
expect "store.sqlite3" vignettes-reg export /y HKCU st

# vignettes-thumbnailer: its options, the sizes a desktop asks for, files.
expect "--help|--size|--version|-h|-s" vignettes-thumbnailer -
expect "1024|128|256|512" vignettes-thumbnailer -s ""
expect "photo.txt|photos" vignettes-thumbnailer -s 256 ph

# What the programs list in --help is offered.
if [ -n "$vignettes" ]; then
  help=$("$vignettes" --help) || bad "vignettes --help failed"
  offered="|$(complete_words _vignettes vignettes -)|"
  # "--origin DIR", "-j, --jobs N": options that stand alone, not "-qj2".
  for w in $(grep -oE -- '(^| )(--[a-z][a-z-]*|-[a-z])(,| |$)' <<<"$help" |
             tr -d ' ,' | sort -u); do
    [[ $offered == *"|$w|"* ]] || bad "vignettes: $w of --help is not offered"
  done
fi
if [ -n "$vignettes_reg" ]; then
  help=$("$vignettes_reg" --help) || bad "vignettes-reg --help failed"
  offered="|$(complete_words _vignettes_reg vignettes-reg -)|"
  for w in $(grep -oE -- '--[a-z][a-z-]*' <<<"$help" | sort -u); do
    [[ $offered == *"|$w|"* ]] || bad "vignettes-reg: $w of --help is not offered"
  done
  commands="|$(complete_words _vignettes_reg vignettes-reg "")|"
  while read -r command usage; do
    [[ $commands == *"|$command|"* ]] ||
      bad "vignettes-reg: command $command of --help is not offered"
    offered="|$(complete_words _vignettes_reg vignettes-reg "$command" KEY /)|"
    for w in $(grep -oE '/[a-z]+' <<<"$usage"); do
      [[ $offered == *"|$w|"* ]] ||
        bad "vignettes-reg: $command $w of --help is not offered"
    done
  done < <(grep -E '^  [a-z]+ +KEY' <<<"$help")
fi

exit $fail
