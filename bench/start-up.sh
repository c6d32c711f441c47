#!/usr/bin/env bash
# Start-up cost of the built tool on this machine, where no HID device needs to be present:
# `quorvel -h` (the help and an empty listing) against Debian's usbrelay listing nothing, when
# it is installed. Prints, per command, the median and mean wall time of N runs taken in turns
# (so that both see the same load of a shared machine), the dynamic loader's relocations and
# its share of the start by LD_DEBUG=statistics, and, when valgrind is installed, the
# instructions of one run and those before main.
#   bash bench/start-up.sh [BUILD_DIR] [N]        (build/default, 300)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-build/default}
runs=${2:-300}
[[ $build = /* ]] || build=$root/$build
tool=$build/bin/quorvel
[[ -x $tool ]] || { echo "start-up.sh: no $tool; build the target quorvel" >&2; exit 1; }
[[ $runs =~ ^[1-9][0-9]*$ ]] || { echo "start-up.sh: N must be a positive number" >&2; exit 1; }
commands=("$tool -h")
peer=$(command -v usbrelay || true)
[[ -n $peer ]] && commands+=("$peer")
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT

for ((i = 0; i < runs; i++)); do
  for c in "${!commands[@]}"; do
    start=$EPOCHREALTIME
    ${commands[c]} >/dev/null 2>&1 || true
    end=$EPOCHREALTIME
    echo "$((${end/./} - ${start/./}))" >>"$folder/$c"
  done
done

printf '%d runs each, in turns\n' "$runs"
for c in "${!commands[@]}"; do
  sort -n "$folder/$c" | awk -v name="${commands[c]##*/}" '
    { t[NR] = $1; sum += $1 }
    END {
      median = NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
      printf "%-20s wall: median %.2f ms, mean %.2f ms\n", name, median / 1000, sum / NR / 1000
    }'
  # shellcheck disable=SC2086 # a command line of words
  LD_DEBUG=statistics ${commands[c]} 2>&1 >/dev/null | awk '
    /total startup time in dynamic loader/ { cycles = $(NF - 1) }
    /number of relocations:/ && !symbols { symbols = $NF }
    /number of relative relocations/ { relative = $NF }
    /final number of relocations:/ { final = $NF }
    END {
      printf "  loader before main: %s cycles; relocations: %s by symbol, %s relative; %s at the end\n",
        cycles, symbols, relative, final
    }'
  if command -v valgrind >/dev/null; then
    # shellcheck disable=SC2086
    valgrind --tool=callgrind --callgrind-out-file="$folder/cg" ${commands[c]} >/dev/null 2>"$folder/cg.err" || true
    total=$(sed -n 's/.*Collected : //p' "$folder/cg.err")
    main=$(callgrind_annotate --inclusive=yes "$folder/cg" 2>/dev/null |
      awk '/:main \[|[^_]main \[/ && !seen { gsub(",", "", $1); print $1; seen = 1 }' || true)
    printf "  instructions: %s, of which in main: %s\n" "$total" "${main:-(no symbols)}"
  fi
done
