#!/bin/bash
# Configures and builds tests/install/consumer against the installed tree alone, then runs
# it over the simulated boards.
#   consumer-test.sh PREFIX SOURCE-DIR WORK-DIR GENERATOR CXX SIM-DIR WORLD-JSON [CMAKE-ARG...]
set -euo pipefail
prefix=${1:?} source=${2:?} work=${3:?} generator=${4:?} cxx=${5:?} sim=${6:?} world=${7:?}
shift 7

rm -rf "$work"
mkdir -p "$work"
# The project's own source folder must not be needed: the consumer sees only the prefix.
cmake -S "$source" -B "$work/build" -G "$generator" -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log"; exit 1; }
cmake --build "$work/build" >"$work/build.log" 2>&1 || { cat "$work/build.log"; exit 1; }
grep -rq -- "-isystem $prefix/include/quorvel" "$work/build" ||
  { echo "the consumer did not compile against $prefix/include/quorvel"; exit 1; }

cp "$world" "$work/world.json"
out=$(LD_LIBRARY_PATH=$sim QUORVEL_SIM_WORLD=$work/world.json "$work/build/list_devices")
echo "$out"
want=$'4 devices\n16C0:05DF USBRelay2\n16C0:05DF USBRelay8\n046D:C31C USB Keyboard\n1209:0001 Vendor Device'
if [[ $out != "$want" ]]; then
  echo "want:"
  echo "$want"
  exit 1
fi
rm -rf "$work"
