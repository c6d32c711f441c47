# Sourced by the build scripts: stops with the apt-get command to run when a
# Debian package the step needs is missing. Nothing is installed here.
require_packages() {
  if ! command -v dpkg-query >/dev/null; then
    return 0  # not Debian: the build itself will say what it misses
  fi
  local missing=() package
  for package in "$@"; do
    if [[ $(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null) != installed ]]; then
      missing+=("$package")
    fi
  done
  if ((${#missing[@]} > 0)); then
    echo "Missing Debian packages: ${missing[*]}" >&2
    echo "Install them with:" >&2
    echo "  sudo apt-get install --no-install-recommends ${missing[*]}" >&2
    exit 1
  fi
}

# What every build needs: the compiler, CMake with Ninja, GoogleTest, and the
# JSON library of the simulated platform.
QUORVEL_BUILD_PACKAGES=(cmake ninja-build g++ googletest libgtest-dev libgmock-dev nlohmann-json3-dev)
# What the Debian package and the checks of the installed files need on top (cpack's
# dependency list, lintian, the man page check).
QUORVEL_PACKAGE_PACKAGES=(dpkg-dev file lintian groff-base man-db)
# What the Windows build and its tests need on top.
QUORVEL_WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix wine wine64)
# What the MQTT bridge quorvel-mqtt (bridge/, docs/mqtt.md) needs: the MQTT client
# library, and the broker its tests start. Optional: left out without them.
QUORVEL_BRIDGE_PACKAGES=(libmosquitto-dev mosquitto)
