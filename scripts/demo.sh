#!/usr/bin/env bash
# Builds the tool with the default preset and runs its main job against the
# simulated boards of docs/examples/world.json: the help and the devices found,
# then a switch of each board and its resulting status. With arguments it runs
# the tool once with them over the same simulated world instead, which keeps
# the boards' state from run to run (build/default/demo/world.json; delete it
# to start again). It builds the real Linux modules beside the tool too, so that
# build/default/bin/quorvel itself works with real boards afterwards. On Debian and
# Ubuntu it first installs the packages the build lacks (scripts/packages.sh).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/packages.sh
require_packages "the build" "${QUORVEL_BUILD_PACKAGES[@]}"

log=build/default-configure.log
mkdir -p build
# The set-up talks on standard error; standard output is the demo's alone.
echo "Configuring build/default (log: $log)" >&2
if ! cmake --preset default >"$log" 2>&1; then
  cat "$log" >&2
  exit 1
fi
echo "Building the tool, its Linux modules and the simulated ones (the first build takes minutes)" >&2
targets=(quorvel quorvel_sim_setupapi quorvel_sim_hid)
if [[ $(uname -s) == Linux ]]; then
  targets+=(quorvel_linux_setupapi quorvel_linux_hid)
fi
cmake --build --preset default --target "${targets[@]}" >&2
echo >&2

world=build/default/demo/world.json
if [[ ! -f $world ]]; then
  mkdir -p "$(dirname "$world")"
  cp docs/examples/world.json "$world"
fi
export QUORVEL_SIM_WORLD=$PWD/$world
export LD_LIBRARY_PATH=$PWD/build/default/sim

tool() {
  echo "\$ quorvel $*"
  status=0
  ./build/default/bin/quorvel "$@" || status=$?
  echo "(exit status $status)"
  echo
}

if (($# > 0)); then
  tool "$@"
  exit "$status"
fi
tool
tool ID=1 ON=2
tool ID=2 ON=1,3,5,7
