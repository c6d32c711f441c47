# bash completion for quorvel: its commands and the values they take.
# shellcheck shell=bash

# One entry per keyword of a relay command: the word as typed, then after "|" the values it
# completes (a relay list completes item by item after a comma). "ID=" completes the board
# numbers and IDs that "quorvel list" shows.
_quorvel_commands=(
  'ID='
  'ON=|ALL 1 2 3 4 5 6 7 8'
  'OFF=|ALL 1 2 3 4 5 6 7 8'
  'N='
  'B='
)
# Asked only as the first argument, in any case: the word, then after "|" the arguments
# that may follow it.
_quorvel_first_only=(
  -h
  'list|--json'
  'state|ID= --json'
  'set-id|ID=' # after the new ID, which is the user's to type
  --version
)

# The values of "ID=" beginning with $1: the numbers of the boards the tool lists, and the
# IDs that one board alone has, shell-quoted. An ID that "ID=" reads as a board number
# ("00001", "x0001", " +12") would not choose its board, so it is not offered. The listing
# only reads the boards; a tool that does not answer within two seconds offers nothing.
_quorvel_board_values() {
  local program=$1 typed=$2 line number id
  local numeric='^ *[+-]?([0-9]+|([$xX]|0[xX])[0-9a-fA-F]+)$'
  local -a numbers=() ids=() runner=()
  command -v timeout >/dev/null && runner=(timeout 2)
  local -A seen=()
  while IFS= read -r line; do
    # "    N  IIIII  R  Status: SS  PATH": an ID may hold blanks, so it is cut by position.
    [[ $line =~ ^\ {4}([0-9]+)\ {2}(.{5})\ {2}[0-9]+\ {2}Status:\ (..)\ {2} ]] || continue
    number=${BASH_REMATCH[1]}
    numbers+=("$number")
    [[ ${BASH_REMATCH[3]} == '??' ]] && continue # unreadable: no ID to offer
    id=${BASH_REMATCH[2]}
    seen[$id]=$((${seen[$id]:-0} + 1))
    ids+=("$id")
  done < <("${runner[@]}" "$program" list 2>/dev/null)
  for number in "${numbers[@]}"; do
    [[ $number == "$typed"* ]] && printf '%s\n' "$number"
  done
  for id in "${ids[@]}"; do
    ((seen[$id] == 1)) || continue
    [[ $id =~ $numeric ]] && continue
    printf -v id '%q' "$id"
    [[ $id == "$typed"* ]] && printf '%s\n' "$id"
  done
}

_quorvel() {
  local line=${COMP_LINE:0:COMP_POINT}
  local cur=${line##*[[:space:]]}
  local words
  read -ra words <<<"${line%"$cur"}"
  local position=${#words[@]} # the word being completed; 0 is the program
  local -a candidates=() offered=()
  local entry name word command='' boards=0

  if ((position > 1)) && [[ ${words[1]} == -h || ${words[1]} == "/?" ]]; then
    COMPREPLY=() # the help takes no further argument
    return
  fi
  # What may stand here: after a command word, the arguments it takes that are not given
  # yet; otherwise the relay keywords, and the command words as the first argument.
  if ((position > 1)); then
    for entry in "${_quorvel_first_only[@]}"; do
      [[ ${words[1],,} == "${entry%%|*}" ]] && command=$entry
    done
  fi
  if [[ -n $command ]]; then
    local -a takes=()
    [[ $command == *'|'* ]] && read -ra takes <<<"${command#*|}"
    # set-id's first argument is the new ID, which is the user's to type.
    [[ $command == set-id'|'* ]] && ((position == 2)) && takes=()
    for name in "${takes[@]}"; do
      for word in "${words[@]:2}"; do
        [[ ${word^^} == "${name^^}"* ]] && continue 2
      done
      offered+=("$name")
    done
  else
    for entry in "${_quorvel_commands[@]}"; do
      offered+=("${entry%%|*}")
    done
    if ((position == 1)); then
      for entry in "${_quorvel_first_only[@]}"; do
        offered+=("${entry%%|*}")
      done
    fi
  fi

  if [[ $cur == *=* ]]; then
    # A value: keywords are matched in either case, as the tool reads them.
    local keyword=${cur%%=*}= value=${cur#*=}
    for name in "${offered[@]}"; do
      [[ ${keyword^^} == "$name" ]] || continue
      if [[ $name == ID= ]]; then
        # Board numbers and IDs, as the tool lists them: case-sensitive.
        boards=1
        while IFS= read -r word; do
          candidates+=("$keyword$word")
        done < <(_quorvel_board_values "${words[0]}" "$value")
      fi
      for entry in "${_quorvel_commands[@]}"; do
        [[ $name == "${entry%%|*}" && $entry == *'|'* ]] || continue
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
    done
  else
    for name in "${offered[@]}"; do
      if [[ $name == *= ]]; then
        [[ $cur != "${cur^^}" ]] && name=${name,,}
        [[ $name == "$cur"* ]] && candidates+=("$name")
      else
        # Command words and switches are read in any case; they are offered as written here.
        [[ $name == "${cur,,}"* ]] && candidates+=("$name")
      fi
    done
  fi

  # Bash replaces only the text behind the last word break ("=" by default).
  if [[ $COMP_WORDBREAKS == *=* && $cur == *=* ]]; then
    candidates=("${candidates[@]#"${cur%=*}="}")
  fi
  COMPREPLY=("${candidates[@]}")
  # A keyword or a relay number is usually followed by more of the same word; a board is not.
  local candidate
  for candidate in "${COMPREPLY[@]}"; do
    if [[ $candidate == *= ]] || { ((!boards)) && [[ $candidate == *[0-9] ]]; }; then
      compopt -o nospace 2>/dev/null
      break
    fi
  done
}
complete -F _quorvel quorvel
