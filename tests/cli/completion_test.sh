#!/usr/bin/env bash
# The bash completion script: it loads, offers every option each command's
# help names, folders after -o, and the dump's entries one level at a time.
#
#   completion_test.sh QUARN MAKE_SAMPLE COMPLETION_SCRIPT
set -uo pipefail
quarn=$1 make_sample=$2 script=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# With bash-completion's helpers where they are installed, as in a user's
# shell; the script does without them too.
if [[ ${QUARN_PLAIN_BASH:-} != 1 && -r /usr/share/bash-completion/bash_completion ]]; then
  # shellcheck source=/dev/null
  source /usr/share/bash-completion/bash_completion
fi
# shellcheck source=/dev/null
source "$script"
failures=0

# The candidates for a command line (its words as typed) whose last word is
# being completed, sorted, on one line.
candidates() {
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMP_LINE="$*"  # the words as typed, quotes and backslashes included
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  _quarn quarn "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" 2>/dev/null
  printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd ' '
}

expect() {
  local want=$1 got
  shift
  got=$(candidates "$@")
  if [[ $got != "$want" ]]; then
    echo "FAILED: ${*@Q}: got '$got', expected '$want'"
    failures=$((failures + 1))
  fi
}

expect "extract help info list probe test version" "$quarn" ""
expect "--skip-existing --stdout" "$quarn" extract dump.bin --s
expect "extract" "$quarn" help ex

# Every option a command's help names is offered after a dash.
for command in probe list extract test info; do
  offered=" $(candidates "$quarn" "$command" -) "
  for option in $("$quarn" help "$command" | sed -n '/^Options:/,/^$/p' |
    grep -oE '(^|[ ,])--?[A-Za-z][A-Za-z-]*' | tr -d ' ,'); do
    if [[ $offered != *" $option "* ]]; then
      echo "FAILED: quarn $command -: $option is not offered (offered:$offered)"
      failures=$((failures + 1))
    fi
  done
done

# Folders after -o; the dump's entries after the dump, one level at a time.
cd "$tmp" || exit 1
mkdir out1 out2
"$make_sample" sample.bin >/dev/null || exit 1
expect "out1 out2" "$quarn" extract sample.bin -o ou
expect "sample.bin" "$quarn" list sampl
expect "FFS/Sounds/" "$quarn" list sample.bin FFS/So
expect "FFS/Sounds/alarm.amr" "$quarn" extract -C out1 sample.bin FFS/Sounds/a
expect "FFS/Sounds/Музыка/" "$quarn" extract -x x sample.bin -- FFS/Sounds/М
expect "EEFULL/eeprom\\ 1_5000.bid EEFULL/eeprom\\ 1_5000.bin" "$quarn" test sample.bin 'EEFULL/eeprom\ 1_5000.'
expect "EEFULL/eeprom\\ 1_5000.bid" "$quarn" test sample.bin "'EEFULL/eeprom 1_5000.bid"
expect "" "$quarn" info sample.bin F

if ((failures > 0)); then
  echo "$failures failure(s)"
  exit 1
fi
echo "completion: all cases pass"
