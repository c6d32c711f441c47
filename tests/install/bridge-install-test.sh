#!/bin/bash
# The installed MQTT bridge: it runs from the tree (its version), its man page reads
# without a warning and names the version, and its service starts the installed program.
#   bridge-install-test.sh PREFIX MANDIR VERSION
set -uo pipefail
prefix=${1:?} mandir=${2:?} version=${3:?}

failed=0
fail() { echo "FAIL $*"; failed=1; }

[[ $("$prefix/bin/quorvel-mqtt" --version) == "quorvel-mqtt $version" ]] ||
  fail "the installed quorvel-mqtt does not print its version $version"

page=$prefix/$mandir/man1/quorvel-mqtt.1.gz
if command -v groff >/dev/null; then
  text=$(gzip -dc "$page") || fail "no man page $page"
  warnings=$(groff -ww -man -z <<<"$text" 2>&1)
  [[ -z $warnings ]] || fail "groff warns: $warnings"
  if command -v man >/dev/null; then
    warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [[ -z $warnings ]] || fail "man warns: $warnings"
  fi
  grep -q "^\.TH QUORVEL-MQTT 1 .*\"Quorvel $version\"" <<<"$text" ||
    fail "the title names no version $version"
else
  echo "note: groff is not installed (package groff-base): the man page is not read"
fi

unit=$prefix/lib/systemd/system/quorvel-mqtt.service
grep -qx 'ExecStart=/usr/bin/quorvel-mqtt $QUORVEL_MQTT_OPTIONS' "$unit" ||
  fail "the service does not start /usr/bin/quorvel-mqtt with its options"
grep -qx 'SupplementaryGroups=plugdev' "$unit" || fail "the service is not in the group plugdev"
grep -q '^User=root' "$unit" && fail "the service runs as root"

((failed == 0)) && echo "the installed bridge, its man page and its service are in order"
exit $failed
