#!/usr/bin/env bash
# Configures, builds and tests every preset: default (then its Debian package,
# scripts/package.sh), asan, tsan (the threaded suites), and windows (mingw-w64,
# tests under Wine). Each preset builds once
# into build/<preset>; a preset's tests run two at a time. Stops at the first
# failure. Name presets to run only those: scripts/test.sh default asan
# On Debian and Ubuntu it first installs the packages the presets lack
# (scripts/packages.sh).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/packages.sh

presets=("$@")
((${#presets[@]} > 0)) || presets=(default asan tsan windows)
required=("${QUORVEL_BUILD_PACKAGES[@]}" "${QUORVEL_BRIDGE_PACKAGES[@]}")
for preset in "${presets[@]}"; do
  if [[ $preset == default ]]; then
    required+=("${QUORVEL_PACKAGE_PACKAGES[@]}")
  fi
  if [[ $preset == windows ]]; then
    required+=("${QUORVEL_WINDOWS_PACKAGES[@]}")
  fi
done
require_packages "building and testing the presets ${presets[*]}" "${required[@]}"

for preset in "${presets[@]}"; do
  echo "=== $preset"
  # The Windows tests start their own Wine server in build/windows/wine-prefix,
  # detached from this script's output (scripts/wine-run.sh).
  cmake --workflow --preset "$preset"
  if [[ $preset == default ]]; then
    # The Debian package, from the build just tested: made, installed, used, removed.
    bash scripts/package.sh build/default
  fi
  if [[ $preset == windows ]]; then
    bash scripts/wine-prefix.sh stop build/windows/wine-prefix
  fi
done
echo "=== all presets passed: ${presets[*]}"
