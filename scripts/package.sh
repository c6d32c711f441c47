#!/usr/bin/env bash
# Builds the Debian package from a build that is done (scripts/test.sh runs it after the
# default preset), checks it with lintian, installs it, runs the installed tool (its help,
# then over the simulated boards of docs/examples/world.json), builds a program of the
# installed HID layer, and removes the package again, checking that its files are gone.
#   scripts/package.sh [BUILD-DIR]          (default build/default)
# As root it installs with dpkg -i into this machine, which CI throws away afterwards;
# otherwise, or with QUORVEL_PACKAGE_ROOT=DIR, it unpacks the package into a throw-away
# folder with dpkg -x instead and says so.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
build=$(realpath "${1:-build/default}")

echo "--- package: cpack"
rm -f "$build"/package/quorvel_*.deb
cpack --config "$build/CPackConfig.cmake" >"$build/cpack.log" 2>&1 ||
  { cat "$build/cpack.log"; exit 1; }
debs=("$build"/package/quorvel_*_amd64.deb)
deb=${debs[0]}
[[ -f $deb ]] || { echo "cpack made no quorvel_<version>_amd64.deb" >&2; exit 1; }
echo "$deb"
dpkg-deb --field "$deb" Package Version Depends

echo "--- package: lintian"
# Warnings count as failures; each override is explained in packaging/lintian-overrides.
lintian --fail-on error,warning "$deb" 2> >(grep -v 'root privileges' >&2)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if (($(id -u) == 0)) && [[ -z ${QUORVEL_PACKAGE_ROOT:-} ]]; then
  echo "--- package: dpkg -i"
  if dpkg-query -W -f='${db:Status-Status}' quorvel 2>/dev/null | grep -q installed; then
    echo "quorvel is installed on this machine already: not replacing it" >&2
    exit 1
  fi
  dpkg -i "$deb"
  root=
  installed=1
else
  root=${QUORVEL_PACKAGE_ROOT:-$work/root}
  echo "--- package: not root, so unpacked into $root with dpkg -x instead of dpkg -i"
  rm -rf "$root"
  dpkg -x "$deb" "$root"
  installed=0
fi
tool=$root/usr/bin/quorvel

failed=0
check() { # check DESCRIPTION COMMAND...
  local description=$1
  shift
  if "$@"; then echo "ok   $description"; else echo "FAIL $description"; failed=1; fi
}
version=$(dpkg-deb --field "$deb" Version)
out=$(env -u LD_LIBRARY_PATH "$tool" -h) && status=0 || status=$?
check "installed quorvel -h exits 0 ($status)" test "$status" = 0
check "installed quorvel -h names version $version" grep -q "quorvel Version $version\$" <<<"$out"
cp docs/examples/world.json "$work/world.json"
sim_tool() {
  LD_LIBRARY_PATH=$build/sim QUORVEL_SIM_WORLD=$work/world.json "$tool" "$@"
}
out=$(sim_tool) || true
check "the installed tool lists the simulated boards" grep -qx '  \* USBRelay8' <<<"$out"
sim_tool ID=1 OFF=ALL >/dev/null || true
out=$(sim_tool ID=1 ON=1,2) && status=0 || status=$?
check "the installed tool switches simulated board 1 ($status)" \
  test "$status" = 0 -a "$out" = $'\n    Status: 03'
if bash tests/install/consumer-test.sh "$root/usr" tests/install/consumer "$work/consumer" Ninja \
  c++ "$build/sim" docs/examples/world.json >"$work/consumer.log" 2>&1; then
  echo "ok   a program built with find_package(Quorvel) against the package lists the devices"
else
  cat "$work/consumer.log"
  echo "FAIL a program built with find_package(Quorvel) against the package"
  failed=1
fi

if ((installed)); then
  echo "--- package: dpkg -r"
  files=$(dpkg -L quorvel | while read -r path; do if [[ -f $path ]]; then echo "$path"; fi; done)
  check "the package installed its files ($(wc -l <<<"$files"))" test -n "$files"
  dpkg -r quorvel
  left=$(while read -r path; do if [[ -e $path ]]; then echo "$path"; fi; done <<<"$files")
  check "dpkg -r removed every file${left:+: $left}" test -z "$left"
  check "dpkg knows the package no more" \
    test "$(dpkg-query -W -f='${db:Status-Status}' quorvel 2>/dev/null)" != installed
fi
exit $failed
