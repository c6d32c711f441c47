#!/usr/bin/env bash
# Start-up cost of the built tool on this machine, where no HID device needs to be present:
# `quorvel -h` (the help and an empty listing) as installed (`cmake --install` into a
# temporary folder, the layout a user runs and the kernel lab copies) and from the build
# folder, against Debian's usbrelay listing nothing, when it is installed. Prints, per
# command, the median and mean wall time of N runs taken in turns (so that all see the same
# load of a shared machine), the ratio of the medians to usbrelay's, the dynamic loader's
# relocations and its share of the start by LD_DEBUG=statistics, and, when valgrind is
# installed, the instructions of one run and those inside main.
#   bash bench/start-up.sh [BUILD_DIR] [N]        (build/default, 300)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-build/default}
runs=${2:-300}
[[ $build = /* ]] || build=$root/$build
tool=$build/bin/quorvel
[[ -x $tool ]] || { echo "start-up.sh: no $tool; build the target quorvel" >&2; exit 1; }
[[ $runs =~ ^[1-9][0-9]*$ ]] || { echo "start-up.sh: N must be a positive number" >&2; exit 1; }
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
commands=()
# The build folder's run path carries an empty entry that CMake leaves for the install's
# (the loader reads it as the current folder); the installed tool has none.
if cmake --install "$build" --prefix "$folder/usr" >/dev/null 2>&1 && [[ -x $folder/usr/bin/quorvel ]]; then
  commands+=("$folder/usr/bin/quorvel -h")
else
  echo "start-up.sh: could not install $build; timing the build folder's tool only" >&2
fi
commands+=("$tool -h")
peer=$(command -v usbrelay || true)
[[ -n $peer ]] && commands+=("$peer")

for ((i = 0; i < runs; i++)); do
  for c in "${!commands[@]}"; do
    start=$EPOCHREALTIME
    ${commands[c]} >/dev/null 2>&1 || true
    end=$EPOCHREALTIME
    echo "$((${end/./} - ${start/./}))" >>"$folder/$c"
  done
done

printf '%d runs each, in turns\n' "$runs"
median() {
  sort -n "$1" | awk '{ t[NR] = $1 } END { print NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }'
}
peerMedian=
[[ -n $peer ]] && peerMedian=$(median "$folder/$((${#commands[@]} - 1))")
for c in "${!commands[@]}"; do
  case ${commands[c]} in
    "$folder"/*) name="quorvel -h (installed)" ;;
    "$tool -h") name="quorvel -h (build folder)" ;;
    *) name=usbrelay ;;
  esac
  sort -n "$folder/$c" | awk -v name="$name" -v peer="$peerMedian" '
    { t[NR] = $1; sum += $1 }
    END {
      median = NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
      ratio = peer != "" ? sprintf(" (%.2fx usbrelay)", median / peer) : ""
      printf "%-28s wall: median %.2f ms, mean %.2f ms%s\n", name, median / 1000, sum / NR / 1000, ratio
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
