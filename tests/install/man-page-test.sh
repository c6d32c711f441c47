#!/bin/bash
# The installed man page: groff and man read it without a warning, it carries the
# project's version, and each command the completion offers has its entry.
#   man-page-test.sh PAGE.gz COMPLETION-FILE VERSION
set -uo pipefail
page=${1:?} completion=${2:?} version=${3:?}
command -v groff >/dev/null || { echo "SKIP: groff is not installed (package groff-base)"; exit 77; }

failed=0
text=$(gzip -dc "$page") || exit 1
warnings=$(groff -ww -man -z <<<"$text" 2>&1)
[[ -z $warnings ]] || { echo "groff warns:"; echo "$warnings"; failed=1; }
if command -v man >/dev/null; then
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [[ -z $warnings ]] || { echo "man warns:"; echo "$warnings"; failed=1; }
fi
grep -q "^\.TH QUORVEL 1 .*\"Quorvel $version\"" <<<"$text" ||
  { echo "the title names no version $version"; failed=1; }

# shellcheck source=packaging/quorvel.bash
source "$completion"
# The commands, and the arguments the command words take (--json).
names=()
for entry in "${_quorvel_commands[@]}" "${_quorvel_first_only[@]}"; do
  names+=("${entry%%|*}")
done
for entry in "${_quorvel_first_only[@]}"; do
  [[ $entry == *'|'* ]] && read -ra arguments <<<"${entry#*|}" && names+=("${arguments[@]}")
done
declare -A checked=()
for name in "${names[@]}"; do
  [[ -z ${checked[$name]:-} ]] || continue
  checked[$name]=1
  # An entry under COMMANDS: a .TP line, then the command in bold at the start of the next.
  awk -v name="$name" '
    /^\.SH/ { section = $0 }
    section == ".SH COMMANDS" && previous == ".TP" && index($0, name) { found = 1 }
    { previous = $0 }
    END { exit !found }' <<<"${text//\\-/-}" ||
    { echo "the man page has no entry for $name"; failed=1; }
done
((failed == 0)) && echo "the man page is clean and documents every command"
exit $failed
