#!/bin/sh
# Compares the names the two bindings look up with what the Linux modules export: those
# and each module's list of them (platform/ModuleExportList.h), nothing else.
# Usage: check-exports.sh LIST-EXPORTS-PROGRAM SETUPAPI-MODULE HID-MODULE
set -eu
expected=$(mktemp)
actual=$(mktemp)
trap 'rm -f "$expected" "$actual"' EXIT
{ "$1"; echo QuorvelExportList; } | sort -u >"$expected"
nm -D --defined-only "$2" "$3" | awk 'NF == 3 { print $3 }' | sort -u >"$actual"
if ! diff -u "$expected" "$actual"; then
  echo "the modules' exports differ from the bindings' tables (- missing, + extra)" >&2
  exit 1
fi
echo "$(wc -l <"$actual") exports match"
