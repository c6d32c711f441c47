#!/bin/bash
# The bash completion (packaging/quorvel.bash): what each command line completes to.
#   completion-test.sh COMPLETION-FILE
set -uo pipefail
# shellcheck source=packaging/quorvel.bash
source "${1:?completion file}"

failed=0
# Completes the line as bash would with the cursor at its end; prints the candidates sorted.
complete_line() {
  COMP_LINE=$1
  COMP_POINT=${#1}
  COMP_WORDBREAKS=${2:-$' \t\n"\'><=;|&(:'}
  COMPREPLY=()
  _quorvel
  printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd ' '
}

# line | expected candidates (after the last word break)
while IFS='|' read -r line want; do
  have=$(complete_line "$line")
  if [[ $have == "$want" ]]; then
    echo "ok   '$line' -> '$have'"
  else
    echo "FAIL '$line' -> '$have', want '$want'"
    failed=1
  fi
done <<'CASES'
quorvel |-h B= ID= N= OFF= ON=
quorvel O|OFF= ON=
quorvel o|off= on=
quorvel ON=1 |B= ID= N= OFF= ON=
quorvel ID=2 O|OFF= ON=
quorvel -|-h
quorvel ON=1 -|
quorvel ON=|1 2 3 4 5 6 7 8 ALL
quorvel OFF=A|ALL
quorvel on=a|all
quorvel ON=1,3,|1,3,2 1,3,4 1,3,5 1,3,6 1,3,7 1,3,8
quorvel ON=1,3,A|
quorvel ID=|
quorvel N=|
quorvel -h |
quorvel /? O|
quorvel X|
CASES

# Without "=" among the word breaks the whole word is replaced.
have=$(complete_line "quorvel ON=7,8," $' \t\n')
want="ON=7,8,1 ON=7,8,2 ON=7,8,3 ON=7,8,4 ON=7,8,5 ON=7,8,6"
[[ $have == "$want" ]] || { echo "FAIL without '=' as a word break: '$have'"; failed=1; }

exit $failed
