#!/usr/bin/env bash
# Runs the Wine server of a prefix for the Windows build's programs.
#   wine-prefix.sh start PREFIX   prepare the prefix once; start the server and
#                                 Wine's services, detached, unless running
#   wine-prefix.sh stop PREFIX    stop the server now
# Environment: QUORVEL_WINE64, QUORVEL_WINESERVER (the defaults are Debian's),
# QUORVEL_WINE_LINGER (seconds the server stays after the last program, 30).
set -euo pipefail

action=${1:?start or stop}
prefix=${2:?Wine prefix folder}

export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
wine=${QUORVEL_WINE64:-/usr/lib/wine/wine64}
wineserver=${QUORVEL_WINESERVER:-$(dirname "$wine")/wineserver}

case $action in
start)
  mkdir -p "$prefix"
  # One starter at a time: a program that ran before the services were up
  # would start them itself, attached to its own output.
  exec 9>"$prefix/.start-lock"
  flock 9
  # Every start detached from our output and from the lock: a Wine process
  # that inherits a test runner's pipe keeps the runner waiting on it for
  # seconds or for good, and one that inherits the lock holds it as long.
  started=0
  "$wineserver" -p"${QUORVEL_WINE_LINGER:-30}" </dev/null >/dev/null 2>&1 9>&- || started=$?
  case $started in
  0) ;;            # a new server: this session's services must start too
  2) exit 0 ;;     # already running, with its services
  *) echo "wine-prefix.sh: $wineserver failed ($started)" >&2; exit 1 ;;
  esac
  if [[ ! -f $prefix/.prepared ]]; then
    WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot -i </dev/null >/dev/null 2>&1 9>&-
    # Hidden windows need a graphics driver, and there is no display.
    "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1 9>&-
    touch "$prefix/.prepared"
    # The desktop that the preparation started has no driver: it must start
    # again, under a new server, to read the setting.
    "$wineserver" -k 2>/dev/null || true
    "$wineserver" -w 2>/dev/null || true
    "$wineserver" -p"${QUORVEL_WINE_LINGER:-30}" </dev/null >/dev/null 2>&1 9>&-
  fi
  "$wine" wineboot </dev/null >/dev/null 2>&1 9>&-
  ;;
stop)
  "$wineserver" -k 2>/dev/null || true
  ;;
*)
  echo "usage: $0 start|stop PREFIX" >&2
  exit 2
  ;;
esac
