#!/usr/bin/env bash
# Lets the named programs load HID.dll and SetupApi.dll from their own folder
# (the simulated modules) instead of Wine's, in the given prefix only. The
# override is scoped to each program, so Wine's own services keep theirs.
#   wine-dll-overrides.sh PREFIX PROGRAM.exe [PROGRAM.exe ...]
set -euo pipefail

prefix=${1:?Wine prefix folder}
shift
(($# > 0)) || {
  echo "usage: $0 PREFIX PROGRAM.exe ..." >&2
  exit 2
}

export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
wine=${QUORVEL_WINE64:-/usr/lib/wine/wine64}

for program in "$@"; do
  program=${program##*/}
  done_mark="$prefix/.native-dlls-$program"
  [[ -f $done_mark ]] && continue
  key="HKCU\\Software\\Wine\\AppDefaults\\$program\\DllOverrides"
  for dll in hid setupapi; do
    "$wine" reg add "$key" /v "$dll" /d native /f </dev/null >/dev/null 2>&1
  done
  touch "$done_mark"
done
