#!/bin/bash
# The installed tool, copied elsewhere as an unpacked tree would be: its run path is
# relative to itself, it loads the installed real modules by default, prints its help and
# version, and switches simulated boards when LD_LIBRARY_PATH names the simulated modules.
#   installed-tool-test.sh PREFIX WORK-DIR MODULE-DIR SIM-DIR WORLD-JSON VERSION
# MODULE-DIR is the module folder relative to PREFIX.
set -uo pipefail
prefix=${1:?} work=${2:?} moduledir=${3:?} sim=${4:?} world=${5:?} version=${6:?}

failed=0
check() { # check DESCRIPTION COMMAND...
  local description=$1
  shift
  if "$@"; then
    echo "ok   $description"
  else
    echo "FAIL $description"
    failed=1
  fi
}

# Anywhere else, under another name: nothing may point back into the build.
rm -rf "$work"
mkdir -p "$work"
cp -a "$prefix" "$work/elsewhere"
root=$work/elsewhere
tool=$root/bin/quorvel
modules=$root/$moduledir

check "the tree holds the tool and its real modules, and no simulated one" \
  test -x "$tool" -a -f "$modules/libquorvel-setupapi.so" -a -f "$modules/libquorvel-hid.so" \
  -a -f "$modules/libquorvel-posix.so" -a ! -e "$modules/libquorvel-sim.so"
runpath=$(readelf -d "$tool" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
check "the tool's run path is relative to it ($runpath)" \
  test "$runpath" = "\$ORIGIN/$(realpath -m --relative-to="$root/bin" "$modules")"
for module in "$modules"/*.so; do
  module_runpath=$(readelf -d "$module" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
  check "$(basename "$module") names no build folder ($module_runpath)" \
    test -z "$module_runpath" -o "$module_runpath" = "\$ORIGIN"
done

# The help, with the real modules: their initialisers ran from the installed folder.
out=$(env -u LD_LIBRARY_PATH LD_DEBUG=libs "$tool" -h 2>"$work/ld-debug.log")
status=$?
check "quorvel -h exits 0 ($status)" test "$status" = 0
check "the help names version $version" grep -q "quorvel Version $version\$" <<<"$out"
check "the help lists the devices" grep -q '^    USB Devices found:' <<<"$out"
loaded=$(sed -n 's/.*calling init: //p' "$work/ld-debug.log" | xargs -r realpath)
for module in libquorvel-setupapi.so libquorvel-hid.so; do
  check "the real $module was loaded from the installed tree" \
    grep -qx "$(realpath "$modules/$module")" <<<"$loaded"
done

# The simulated boards, through LD_LIBRARY_PATH as in the build tree.
cp "$world" "$work/world.json"
sim_tool() {
  LD_LIBRARY_PATH=$sim QUORVEL_SIM_WORLD=$work/world.json "$tool" "$@"
}
out=$(sim_tool)
check "the installed tool lists the simulated boards" \
  grep -qx '  \* USBRelay8' <<<"$out"
sim_tool ID=2 OFF=ALL >/dev/null
out=$(sim_tool ID=2 ON=1,3)
status=$?
check "the installed tool switches simulated board 2 ($status: $out)" \
  test "$status" = 0 -a "$out" = $'\n    Status: 05'

rm -rf "$work"
exit $failed
