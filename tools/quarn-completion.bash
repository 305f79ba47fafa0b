# Bash completion for quarn: the commands, each command's options, dumps and
# folders, and after the dump the paths of its entries.
#
#   source tools/quarn-completion.bash            # this shell
#   cp tools/quarn-completion.bash ~/.local/share/bash-completion/completions/quarn
#
# Installed (cmake --install, the Debian package) as
# share/bash-completion/completions/quarn, where bash-completion loads it the
# first time quarn is completed.
#
# Entry paths come from `quarn list` of the dump named on the line (a regular
# file only: a pipe can be read once).

# The paths of the dump's listing: the name column of the plain table.
_quarn_entries() {
  local quarn=$1 dump=$2
  [[ -f $dump && -r $dump ]] || return 0
  "$quarn" list -- "$dump" 2>/dev/null | sed -e '1,2d' -e '$d' | sed -e '$d' | cut -c41-
}

_quarn() {
  local cur prev words cword
  if declare -F _init_completion >/dev/null; then
    _init_completion -n = || return
  else
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD - 1]}
    words=("${COMP_WORDS[@]}")
    cword=$COMP_CWORD
  fi

  local commands="probe list extract test info help version"
  if ((cword == 1)); then
    local first=$commands
    [[ $cur == -* ]] && first="-h --help -V --version"
    mapfile -t COMPREPLY < <(compgen -W "$first" -- "$cur")
    return
  fi

  local command=${words[1]} options
  case $command in
    probe) options="-h --help" ;;
    list) options="--json --deleted -x --exclude -h --help" ;;
    extract)
      options="-o --output -C --directory --overwrite -k --keep --skip-existing -O --stdout"
      options+=" --deleted -x --exclude -q --quiet -v --verbose -h --help"
      ;;
    test) options="--deleted -x --exclude -q --quiet -h --help" ;;
    info) options="--json --deleted -v --verbose -h --help" ;;
    help)
      ((cword == 2)) && mapfile -t COMPREPLY < <(compgen -W "probe list extract test info" -- "$cur")
      return
      ;;
    *) return ;;
  esac

  case $prev in
    -o | --output | -C | --directory)
      mapfile -t COMPREPLY < <(compgen -d -- "$cur")
      compopt -o filenames 2>/dev/null
      return
      ;;
    -x | --exclude) return ;; # a pattern: anything goes
  esac
  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
    return
  fi

  # The operands so far: the first names the dump (probe: every one a file).
  local i word dump="" operands=0 ended=""
  for ((i = 2; i < cword; i++)); do
    word=${words[i]}
    if [[ -z $ended && $word == -- ]]; then
      ended=1
    elif [[ -z $ended && $word == -?* ]]; then
      case $word in -o | --output | -C | --directory | -x | --exclude) ((i++)) ;; esac
    else
      ((operands++))
      [[ -z $dump ]] && dump=$word
    fi
  done
  if [[ $command == probe ]] || ((operands == 0)); then
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    compopt -o filenames 2>/dev/null
    return
  fi
  [[ $command == info ]] && return
  local quarn=${words[0]}
  [[ $quarn == \~/* ]] && quarn=$HOME/${quarn#\~/}
  [[ $dump == \~/* ]] && dump=$HOME/${dump#\~/}
  # One level at a time, as file names complete: "FFS/" offers what lies in
  # FFS, each folder once, with a trailing "/". The word as typed loses its
  # quotes and backslashes (no listed path holds a backslash on Linux).
  [[ $cur == [\'\"]* ]] && cur=${cur:1}
  cur=${cur//\\/}
  local line rest
  local -a found=()
  local -A seen=()
  while IFS= read -r line; do
    [[ $line == "$cur"* ]] || continue
    rest=${line:${#cur}}
    [[ $rest == */* ]] && line=$cur${rest%%/*}/
    [[ -n ${seen[$line]:-} ]] && continue
    seen[$line]=1
    found+=("$line")
  done < <(_quarn_entries "$quarn" "$dump")
  # A folder is offered once, as "name/".
  COMPREPLY=()
  for line in "${found[@]}"; do
    [[ -n ${seen[$line/]:-} ]] && continue
    COMPREPLY+=("$(printf '%q' "$line")")
  done
  if ((${#COMPREPLY[@]} == 1)) && [[ ${COMPREPLY[0]} == */ ]]; then
    compopt -o nospace 2>/dev/null
  fi
}

complete -F _quarn quarn
