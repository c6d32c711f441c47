#!/usr/bin/env bash
# Whole-process timing of the built tool over the simulated boards of
# docs/examples/world.json: the listing road (no arguments: the help and every device)
# and a switch (ID=1 ON=1), each run N times, and the listing over an empty world as a
# baseline; prints the mean and median wall time of a run.
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

# The simulation writes relay state and its whole log back to the world file, synced,
# after every exchange: every run starts from a fresh copy, so the log does not grow from
# run to run, on tmpfs unless QUORVEL_BENCH_TMP names another folder, so that the figures
# are the tool's and not the disk's.
folder=${QUORVEL_BENCH_TMP:-/dev/shm}
[[ -d $folder && -w $folder ]] || folder=${TMPDIR:-/tmp}
world=$(mktemp -p "$folder" --suffix=.json quorvel-world.XXXXXX)
trap 'rm -f "$world"' EXIT
export QUORVEL_SIM_WORLD=$world
export LD_LIBRARY_PATH=$build/sim${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}

# Runs the tool N times with the given arguments; prints "label mean median" in ms.
time_road() {
  local label=$1
  shift
  local times=() start end
  for ((i = 0; i < runs; i++)); do
    cp "$root/docs/examples/world.json" "$world"
    start=$EPOCHREALTIME
    if ! "$tool" "$@" >/dev/null; then
      echo "time-tool.sh: quorvel $* failed" >&2
      exit 1
    fi
    end=$EPOCHREALTIME
    times+=("$((${end/./} - ${start/./}))")  # microseconds
  done
  printf '%s\n' "${times[@]}" | sort -n | awk -v label="$label" '
    { t[NR] = $1; sum += $1 }
    END {
      median = NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
      printf "%-22s %9.3f %9.3f\n", label, sum / NR / 1000, median / 1000
    }'
}

printf '%d runs each over docs/examples/world.json, copied to %s\n' "$runs" "$folder"
printf '%-22s %9s %9s\n' "road" "mean ms" "median ms"
time_road "listing (no args)"
time_road "switch (ID=1 ON=1)" ID=1 ON=1
# The same process over an empty world without a world file: start-up, bindings and an
# empty scan, without the simulation's reading and writing of the file.
(
  unset QUORVEL_SIM_WORLD
  time_road "listing, empty world"
)
