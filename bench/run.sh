#!/usr/bin/env bash
# Runs the benchmarks of a build over the simulated platform modules, the way the tests
# find them: LD_LIBRARY_PATH puts build/<dir>/sim first.
#   bash bench/run.sh [BUILD_DIR] [benchmark options...]     (BUILD_DIR: build/bench)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=build/bench
if (($# > 0)) && [[ $1 != -* ]]; then
  build=$1
  shift
fi
[[ $build = /* ]] || build=$root/$build
bench=$build/bin/quorvel_bench
if [[ ! -x $bench ]]; then
  echo "run.sh: no $bench; build it with: cmake --build $build --target quorvel_bench" >&2
  exit 1
fi
LD_LIBRARY_PATH=$build/sim${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH} exec "$bench" "$@"
