#!/usr/bin/env bash
# Builds the tool with the default preset and runs its main job against the
# simulated boards of docs/examples/world.json: the help and the devices found,
# then a switch of each board and its resulting status. With arguments it runs
# the tool once with them over the same simulated world instead, which keeps
# the boards' state from run to run (build/default/demo/world.json; delete it
# to start again). Real boards: run build/default/bin/quorvel itself.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/packages.sh
require_packages "${QUORVEL_BUILD_PACKAGES[@]}"

cmake --preset default >/dev/null
cmake --build --preset default --target quorvel quorvel_sim_setupapi quorvel_sim_hid >/dev/null

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
