#!/bin/bash
# The bash completion (packaging/quorvel.bash): what each command line completes to. The
# boards that "ID=" offers come from the installed tool over the simulated boards of
# WORLD-JSON, and completing them switches nothing.
#   completion-test.sh COMPLETION-FILE TOOL SIM-DIR WORLD-JSON WORK-DIR
set -uo pipefail
completion=${1:?completion file} tool=${2:?} sim=${3:?} world=${4:?} work=${5:?}
# shellcheck source=packaging/quorvel.bash
source "$completion"

# "quorvel" on the lines below is the installed tool over a copy of the world.
rm -rf "$work"
mkdir -p "$work/bin"
cp "$world" "$work/world.json"
printf '#!/bin/sh\nLD_LIBRARY_PATH=%q QUORVEL_SIM_WORLD=%q exec %q "$@"\n' \
  "$sim" "$work/world.json" "$tool" >"$work/bin/quorvel"
chmod +x "$work/bin/quorvel"
PATH=$work/bin:$PATH

failed=0
nospace=0
# shellcheck disable=SC2317 # called by the completion
compopt() { [[ $* == "-o nospace" ]] && nospace=1; }
# Completes the line as bash would with the cursor at its end; prints the candidates sorted.
complete_line() {
  COMP_LINE=$1
  COMP_POINT=${#1}
  COMP_WORDBREAKS=${2:-$' \t\n"\'><=;|&(:'}
  COMPREPLY=()
  nospace=0
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
quorvel |--version -h B= ID= N= OFF= ON= list set-id state
quorvel O|OFF= ON=
quorvel o|off= on=
quorvel ON=1 |B= ID= N= OFF= ON=
quorvel ID=2 O|OFF= ON=
quorvel -|--version -h
quorvel --|--version
quorvel ON=1 -|
quorvel ON=|1 2 3 4 5 6 7 8 ALL
quorvel OFF=A|ALL
quorvel on=a|all
quorvel ON=1,3,|1,3,2 1,3,4 1,3,5 1,3,6 1,3,7 1,3,8
quorvel ON=1,3,A|
quorvel N=|
quorvel -h |
quorvel /? O|
quorvel X|
quorvel s|set-id state
quorvel L|list
quorvel list |--json
quorvel LIST --J|--json
quorvel list --json |
quorvel list ID=|
quorvel list ON=1 l|
quorvel state |--json ID=
quorvel State ID=2 |--json
quorvel state --JSON |ID=
quorvel state --json ID=Q|QAAMZ
quorvel set-id |
quorvel set-id NEWID |ID=
quorvel set-id NEWID ID=|0x1G2 1 2 3 4 5 6 7 8 A\ B\$C QAAMZ
quorvel --version |
quorvel ID=|0x1G2 1 2 3 4 5 6 7 8 A\ B\$C QAAMZ
quorvel id=Q|QAAMZ
quorvel ID=q|
quorvel ID=A|A\ B\$C
quorvel ID=H|
quorvel ID=0|0x1G2
quorvel ID=x|
quorvel ON=1 ID=4|4
CASES

# Without "=" among the word breaks the whole word is replaced.
have=$(complete_line "quorvel ON=7,8," $' \t\n')
want="ON=7,8,1 ON=7,8,2 ON=7,8,3 ON=7,8,4 ON=7,8,5 ON=7,8,6"
[[ $have == "$want" ]] || { echo "FAIL without '=' as a word break: '$have'"; failed=1; }
have=$(complete_line "quorvel state id=Q" $' \t\n')
[[ $have == "id=QAAMZ" ]] || { echo "FAIL a board without '=' as a word break: '$have'"; failed=1; }

# A relay list and a keyword go on without a blank; a board is followed by one.
for line in "quorvel ON=1," "quorvel O" "quorvel ID=Q" "quorvel ID=1"; do
  complete_line "$line" >/dev/null
  want=1
  [[ $line == *ID=* ]] && want=0
  [[ $nospace == "$want" ]] || { echo "FAIL '$line' leaves nospace at $nospace"; failed=1; }
done

# The boards were read, and nothing was sent to them.
log=$(grep -o '"call": *"HidD_[A-Za-z]*Feature"' "$work/world.json" | sort | uniq -c)
grep -q HidD_GetFeature <<<"$log" || { echo "FAIL the boards were never read"; failed=1; }
! grep -q HidD_SetFeature <<<"$log" || { echo "FAIL completion sent a command: $log"; failed=1; }

rm -rf "$work"
exit $failed
