# shellcheck shell=bash disable=SC2034  # the lists are read by the scripts that source this
# Sourced by the build scripts: on Debian and Ubuntu, installs the Debian packages a
# step needs and lacks (apt-get update once per run, then apt-get install, through
# sudo unless run as root), saying what and why. QUORVEL_NO_INSTALL=1 prints the
# command instead and stops. Elsewhere nothing happens here: the build itself says
# what it misses.

# What every build with the tests needs: the compiler, CMake with Ninja, GoogleTest,
# and the JSON library of the simulated platform.
QUORVEL_BUILD_PACKAGES=(cmake ninja-build g++ googletest libgtest-dev libgmock-dev nlohmann-json3-dev)
# What the Debian package and the checks of the installed files need on top (cpack's
# dependency list, lintian, the man page check).
QUORVEL_PACKAGE_PACKAGES=(dpkg-dev file lintian groff-base man-db)
# What the Windows build and its tests need on top.
QUORVEL_WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix wine wine64)
# What the MQTT bridge quorvel-mqtt (bridge/, docs/mqtt.md) needs: the MQTT client
# library, and the broker its tests start (a build without them leaves the bridge out).
QUORVEL_BRIDGE_PACKAGES=(libmosquitto-dev mosquitto)
# Used when present: the benchmarks, and the real-kernel test lab (with jq it reads the
# tool's JSON in the guest, with mosquitto-clients it drives the MQTT bridge there).
QUORVEL_OPTIONAL_PACKAGES=(libbenchmark-dev qemu-system-x86 busybox-static cpio jq mosquitto-clients)

quorvel_apt_updated=0

# is_debian: Debian, Ubuntu and their derivatives, with apt-get and dpkg.
is_debian() {
  command -v dpkg-query >/dev/null && command -v apt-get >/dev/null || return 1
  local id="" id_like=""
  if [[ -r /etc/os-release ]]; then
    id=$(. /etc/os-release && echo "${ID:-}")
    id_like=$(. /etc/os-release && echo "${ID_LIKE:-}")
  fi
  [[ " $id $id_like " == *" debian "* || " $id $id_like " == *" ubuntu "* ]]
}

# require_packages WHY PACKAGE...: installs those of the packages that are missing;
# WHY completes "... needs them" in the message.
require_packages() {
  local why=$1
  shift
  is_debian || return 0
  local missing=() package
  for package in "$@"; do
    if [[ $(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null) != installed ]]; then
      missing+=("$package")
    fi
  done
  ((${#missing[@]} > 0)) || return 0

  local sudo=()
  if (($(id -u) != 0)); then
    sudo=(sudo)
  fi
  local command="${sudo[*]:+${sudo[*]} }apt-get install -y --no-install-recommends ${missing[*]}"
  echo "Missing Debian packages: ${missing[*]} ($why needs them)." >&2
  if [[ ${QUORVEL_NO_INSTALL:-} == 1 ]]; then
    echo "Not installing them (QUORVEL_NO_INSTALL=1). Install them with:" >&2
    echo "  ${sudo[*]:+${sudo[*]} }apt-get update && $command" >&2
    exit 1
  fi
  if ((${#sudo[@]} > 0)) && ! command -v sudo >/dev/null; then
    echo "sudo is not available; as root, run:" >&2
    echo "  apt-get update && apt-get install -y --no-install-recommends ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing them: $command" >&2
  export DEBIAN_FRONTEND=noninteractive
  if ((quorvel_apt_updated == 0)); then
    "${sudo[@]}" apt-get update
    quorvel_apt_updated=1
  fi
  "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
}
