#!/usr/bin/env bash
# Builds the tool with the default preset and runs it: the help and the list
# of HID devices present. Any arguments are passed on to the tool.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/packages.sh
require_packages "${QUORVEL_BUILD_PACKAGES[@]}"

cmake --preset default >/dev/null
cmake --build --preset default --target quorvel >/dev/null
exec ./build/default/bin/quorvel "$@"
