#!/usr/bin/env bash
# check_bash_completion.sh STAGE
# bash-completion, loading a command's completion the first time it is
# asked as an interactive shell does, finds the installed ones of both
# programs below STAGE/share and they answer (skipped, exit 77, without the
# bash-completion package).
set -euo pipefail
stage=$1
main=/usr/share/bash-completion/bash_completion
[ -r "$main" ] || { echo "bash-completion not installed"; exit 77; }

# Only the stage's data folder, so that completions of an installed package
# cannot stand in for the staged ones.
XDG_DATA_DIRS=$stage/share BASH_COMPLETION_USER_DIR=$stage/none \
  bash --norc --noprofile -c '
  stage=$1 fail=0
  bad() { echo "FAIL: $*" >&2; fail=1; }
  source "$2" || bad "bash-completion did not load"
  shopt -s extdebug  # declare -F then names the file of a function
  for program in vignettes vignettes-reg; do
    fn=_${program//-/_}
    __load_completion "$program" || { bad "no completion found for $program"; continue; }
    complete -p "$program" | grep -q -- "-F $fn " || bad "$program is not completed by $fn"
    where=$(declare -F "$fn" | cut -d" " -f3-)
    [ "$where" = "$stage/share/bash-completion/completions/$program" ] ||
      bad "$fn comes from $where"
  done
  COMP_WORDS=(vignettes --or) COMP_CWORD=1 COMPREPLY=()
  _vignettes vignettes --or vignettes
  [ "${COMPREPLY[*]}" = --origin ] || bad "vignettes --or: ${COMPREPLY[*]}"
  COMP_WORDS=(vignettes-reg --sto) COMP_CWORD=1 COMPREPLY=()
  _vignettes_reg vignettes-reg --sto vignettes-reg
  [ "${COMPREPLY[*]}" = --store ] || bad "vignettes-reg --sto: ${COMPREPLY[*]}"
  exit $fail
' bash "$stage" "$main"
