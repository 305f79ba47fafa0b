#!/usr/bin/env bash
# The manual page against the help texts: every command the general help
# lists has its entry under COMMANDS, every option the general help or a
# command's help names has one under OPTIONS, and every exit code the help
# lists has one under EXIT STATUS. Where groff is installed, the page must
# render without a warning.
#
#   manpage_test.sh QUARN MANPAGE
set -uo pipefail
quarn=$1 page=$2
failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

# The page's lines with roff's escaped dashes and font changes made plain.
text=$(sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' -e 's/\\&//g' "$page")
# The lines of section $1.
section() {
  awk -v name="$1" '/^\.SH / { on = ($0 == ".SH " name || $0 == ".SH \"" name "\""); next } on' \
    <<<"$text"
}
# The words of the entries' tags (the lines after .TP) of section $1.
tags() {
  section "$1" | awk 'previous == ".TP" { print } { previous = $0 }' |
    grep -oE '(^|[ "])[-0-9A-Za-z][-0-9A-Za-z]*' | tr -d ' "' | sort -u
}
# The options of the option lines of a help text.
help_options() {
  grep -E '^ +-' | grep -oE '(^|[ ,])--?[A-Za-z][-A-Za-z]*' | tr -d ' ,'
}
has() { grep -qxF -e "$1" <<<"$2"; }

help=$("$quarn" --help) || fail "quarn --help"
commands=$(sed -n '/^Commands:/,/^$/p' <<<"$help" | awk 'NR > 1 && NF { print $1 }')
[[ -n $commands ]] || fail "quarn --help lists no commands"
command_tags=$(tags COMMANDS)
option_tags=$(tags OPTIONS)
for command in $commands; do
  has "$command" "$command_tags" || fail "command $command has no entry under COMMANDS"
done

for source in --help $commands; do
  case $source in
    --help) options=$(help_options <<<"$help") ;;
    help | version) continue ;; # no options of their own
    *) options=$("$quarn" help "$source" | help_options) || fail "quarn help $source" ;;
  esac
  [[ -n $options ]] || fail "quarn $source: no options found in its help"
  for option in $options; do
    has "$option" "$option_tags" || fail "$option (quarn $source) has no entry under OPTIONS"
  done
done

codes=$(sed -n '/^Exit codes:/,/^$/p' <<<"$help" | grep -oE '^  [0-9]+' | tr -d ' ')
[[ -n $codes ]] || fail "quarn --help lists no exit codes"
exit_tags=$(tags "EXIT STATUS")
for code in $codes; do
  has "$code" "$exit_tags" || fail "exit code $code has no entry under EXIT STATUS"
done

if command -v groff >/dev/null; then
  warnings=$(LC_ALL=C.UTF-8 groff -man -ww -z -Tutf8 "$page" 2>&1)
  [[ -z $warnings ]] || fail "groff warns: $warnings"
fi

if ((failures > 0)); then
  echo "$failures failure(s)"
  exit 1
fi
echo "manpage: $(wc -w <<<"$commands") commands, every option and exit code described"
