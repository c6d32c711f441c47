#!/usr/bin/env bash
# Whole-process timing of the built tool over simulated boards: the listing road (no
# arguments: the help and every device) over docs/examples/world.json and over a world
# of its devices repeated to ten, a switch (ID=1 ON=1), the listing over a world file
# that successive runs keep (as the demo does, its log growing to its bound), and the
# listing over an empty world without a world file as a baseline. Prints the mean and
# median wall time of a run, the CPU time of a run (user + system, mean), and the
# fsync calls of one run when strace is installed.
#   bash bench/time-tool.sh [BUILD_DIR] [N]        (build/bench, 200)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-build/bench}
runs=${2:-200}
[[ $build = /* ]] || build=$root/$build
tool=$build/bin/quorvel
if [[ ! -x $tool ]]; then
  echo "time-tool.sh: no $tool; build it with: cmake --build $build --target quorvel" >&2
  exit 1
fi
if ! [[ $runs =~ ^[1-9][0-9]*$ ]]; then
  echo "time-tool.sh: N must be a positive number of runs, not '$runs'" >&2
  exit 1
fi

# The world files live on the disk of the temporary folder, as a user's would;
# QUORVEL_BENCH_TMP names another folder (e.g. /dev/shm to leave the disk out).
folder=$(mktemp -d -p "${QUORVEL_BENCH_TMP:-${TMPDIR:-/tmp}}" quorvel-bench.XXXXXX)
trap 'rm -rf "$folder"' EXIT
world=$folder/world.json
export QUORVEL_SIM_WORLD=$world
export LD_LIBRARY_PATH=$build/sim${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}

# The example world's devices repeated in order to ten: the devices of the example
# file are the objects one level inside its "devices" list.
awk -v want=10 '
  /"devices": \[/ { inside = 1; next }
  inside {
    for (i = 1; i <= length($0); i++) {
      c = substr($0, i, 1)
      if (depth > 0 || c == "{") { text = text c }
      if (c == "{") depth++
      if (c == "}" && --depth == 0) { devices[n++] = text; text = "" }
    }
    if (depth > 0) text = text "\n"
  }
  END {
    printf "{\"devices\": [\n"
    for (i = 0; i < want; i++) printf "%s%s\n", devices[i % n], i + 1 < want ? "," : ""
    printf "]}\n"
  }' "$root/docs/examples/world.json" >"$folder/ten.json"

# Sets cpu to the CPU time (user + system) of the finished children of this shell, in
# microseconds; called directly, not in a command substitution, whose shell has children
# of its own.
children_cpu() {
  local line part minutes seconds
  times >"$folder/times"
  line=$(tail -n 1 "$folder/times")
  cpu=0
  for part in $line; do
    minutes=${part%%m*}
    seconds=${part#*m}
    seconds=${seconds%s}
    cpu=$((cpu + minutes * 60000000 + 10#${seconds/./} * 1000))
  done
}

# Runs the tool N times with the given arguments over a fresh copy of a world (or the
# kept one when the source is "-"); prints "label mean median cpu fsyncs".
time_road() {
  local label=$1 source=$2
  shift 2
  local times=() start end cpu cpu_before cpu_after fsyncs=-
  children_cpu
  cpu_before=$cpu
  for ((i = 0; i < runs; i++)); do
    if [[ $source != - && -n $source ]]; then
      cp "$source" "$world"
    fi
    start=$EPOCHREALTIME
    if ! "$tool" "$@" >/dev/null; then
      echo "time-tool.sh: quorvel $* failed" >&2
      exit 1
    fi
    end=$EPOCHREALTIME
    times+=("$((${end/./} - ${start/./}))")  # microseconds
  done
  children_cpu
  cpu_after=$cpu
  # cp is a child too: take its share out by timing the copies alone.
  if [[ $source != - && -n $source ]]; then
    local copy_before copy_after
    children_cpu
    copy_before=$cpu
    for ((i = 0; i < runs; i++)); do cp "$source" "$world"; done
    children_cpu
    copy_after=$cpu
    cpu_after=$((cpu_after - (copy_after - copy_before)))
  fi
  if command -v strace >/dev/null; then
    [[ $source != - && -n $source ]] && cp "$source" "$world"
    fsyncs=$(strace -f -e trace=fsync,fdatasync,sync,syncfs -o /dev/stdout "$tool" "$@" 2>/dev/null |
      grep -c -E '^([0-9]+ +)?(fsync|fdatasync|sync|syncfs)\(' || true)
  fi
  printf '%s\n' "${times[@]}" | sort -n | awk -v label="$label" -v cpu=$(((cpu_after - cpu_before) / runs)) \
    -v fsyncs="$fsyncs" '
    { t[NR] = $1; sum += $1 }
    END {
      median = NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
      printf "%-30s %9.3f %9.3f %9.3f %7s\n", label, sum / NR / 1000, median / 1000, cpu / 1000, fsyncs
    }'
}

printf '%d runs each; world files in %s\n' "$runs" "$folder"
printf '%-30s %9s %9s %9s %7s\n' "road" "mean ms" "median ms" "CPU ms" "fsyncs"
time_road "listing (example, 4 devices)" "$root/docs/examples/world.json"
time_road "listing (10 devices)" "$folder/ten.json"
time_road "switch (ID=1 ON=1)" "$root/docs/examples/world.json" ID=1 ON=1
# As the demo: one world file that every run reads and writes back; the log grows up
# to its bound.
cp "$root/docs/examples/world.json" "$world"
time_road "listing (kept world file)" - 
printf '  the kept world file: %s bytes after %d runs\n' "$(wc -c <"$world")" "$((runs + 1))"
# The same process over an empty world without a world file: start-up, bindings and an
# empty scan, without the simulation's reading and writing of the file.
(
  unset QUORVEL_SIM_WORLD
  time_road "listing, empty world" ""
)
