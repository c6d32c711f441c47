#!/usr/bin/env bash
# Runs a Windows program under Wine in the given prefix, starting the prefix's
# server first when needed: the emulator of the Windows build.
#   wine-run.sh WINE64 PREFIX PROGRAM.exe [ARGUMENT ...]
# QUORVEL_WINE_NATIVE_DLLS="A.exe B.exe" gives those programs the HID.dll and
# SetupApi.dll of their own folder (see wine-dll-overrides.sh).
set -euo pipefail

here=$(dirname "${BASH_SOURCE[0]}")
export QUORVEL_WINE64=${1:?wine64}
prefix=${2:?Wine prefix folder}
shift 2

export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
bash "$here/wine-prefix.sh" start "$prefix"
if [[ -n ${QUORVEL_WINE_NATIVE_DLLS:-} ]]; then
  # shellcheck disable=SC2086 # a list of file names without blanks
  bash "$here/wine-dll-overrides.sh" "$prefix" $QUORVEL_WINE_NATIVE_DLLS
fi
exec "$QUORVEL_WINE64" "$@"
