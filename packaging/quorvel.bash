# bash completion for quorvel: its commands and the values they take.
# shellcheck shell=bash

# One entry per command: the word as typed, then after "|" the values it completes
# (a relay list completes item by item after a comma).
_quorvel_commands=(
  'ID='
  'ON=|ALL 1 2 3 4 5 6 7 8'
  'OFF=|ALL 1 2 3 4 5 6 7 8'
  'N='
  'B='
)
# Asked only as the first argument.
_quorvel_first_only=(-h)

_quorvel() {
  local line=${COMP_LINE:0:COMP_POINT}
  local cur=${line##*[[:space:]]}
  local words
  read -ra words <<<"${line%"$cur"}"
  local position=${#words[@]} # the word being completed; 0 is the program
  local -a candidates=()
  local entry name

  if ((position > 1)) && [[ ${words[1]} == -h || ${words[1]} == "/?" ]]; then
    COMPREPLY=() # the help takes no further argument
    return
  fi
  if [[ $cur == *=* ]]; then
    # A value: keywords are matched in either case, as the tool reads them.
    local keyword=${cur%%=*}= value=${cur#*=}
    for entry in "${_quorvel_commands[@]}"; do
      name=${entry%%|*}
      [[ ${keyword^^} == "$name" && $entry == *'|'* ]] || continue
      local values=${entry#*|} listed='' last=$value item
      if [[ $value == *,* ]]; then
        listed=${value%,*},
        last=${value##*,}
      fi
      for item in $values; do
        [[ $item == ALL && -n $listed ]] && continue
        [[ ,$listed == *",$item,"* ]] && continue
        [[ $keyword != "${keyword^^}" ]] && item=${item,,}
        [[ ${item^^} == "${last^^}"* ]] && candidates+=("$keyword$listed$item")
      done
    done
  else
    local -a offered=()
    for entry in "${_quorvel_commands[@]}"; do
      offered+=("${entry%%|*}")
    done
    ((position == 1)) && offered+=("${_quorvel_first_only[@]}")
    for name in "${offered[@]}"; do
      [[ $cur != "${cur^^}" ]] && name=${name,,}
      [[ $name == "$cur"* ]] && candidates+=("$name")
    done
  fi

  # Bash replaces only the text behind the last word break ("=" by default).
  if [[ $COMP_WORDBREAKS == *=* && $cur == *=* ]]; then
    candidates=("${candidates[@]#"${cur%=*}="}")
  fi
  COMPREPLY=("${candidates[@]}")
  # A keyword or a relay number is usually followed by more of the same word.
  local candidate
  for candidate in "${COMPREPLY[@]}"; do
    if [[ $candidate == *= || $candidate == *[0-9] ]]; then
      compopt -o nospace 2>/dev/null
      break
    fi
  done
}
complete -F _quorvel quorvel
