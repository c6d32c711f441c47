#!/bin/bash
# The real-kernel lab: boots Debian's stock kernel in qemu (TCG) with a busybox initramfs
# holding the project's Linux modules and the lab's programs, puts a relay board on the
# guest kernel's HID stack through uhid and another through USB/IP (a real usbhid device),
# and checks the modules against them (LabProbe.cpp).
# With --with-tool the guest also runs the tool as installed (PREFIX/bin/quorvel with its
# modules and udev rule, put under the guest's /usr): listing and switching, without and
# with permission on the node, boards unplugged in the middle of a switching, a soak of
# alternating switches (init.sh), the board commands on two boards with IDs
# (board-commands.sh, its JSON read with the host's jq when installed), and, when the tree
# has quorvel-mqtt and the host Debian's mosquitto and mosquitto-clients, one switch through
# the MQTT bridge on a broker in the guest, and its hotplug (mqtt-bridge.sh).
#
# Usage: run.sh BIN-DIR WORK-DIR [--with-tool PREFIX]
# With QUORVEL_LAB_BENCH=N in the environment the guest also times the tool's calls over N runs
# each (printed, never checked), and, when Debian's usbrelay is installed on the host, the
# same calls of that peer tool with their hidraw opens (bench/kernel-lab-compare.sh).
#   BIN-DIR   the build's bin folder (modules, libquorvel-posix.so, the lab's programs)
#   WORK-DIR  a folder for the downloaded kernel (kept between runs) and the initramfs
#   PREFIX    an installed tree (`cmake --install BUILD --prefix DIR/usr`): DIR/usr
# Exit status: 0 when every check passed, 1 when one failed, 77 (skipped) when qemu,
# busybox, cpio or the kernel package is not available. The kernel package is fetched with
# `apt-get download` and unpacked here; it is never installed on the host.
# Environment: QUORVEL_LAB_TIMEOUT, the seconds the guest may take (default 480);
# QUORVEL_LAB_SOAK, the number of switches of the soak (default 1000, 100 in a sanitizer
# build).
set -euo pipefail

readonly SKIP=77
bin=$(realpath "${1:?BIN-DIR}")
work=$(realpath -m "${2:?WORK-DIR}")
with_tool=${3:-}
installed=${4:-}
timeout_s=${QUORVEL_LAB_TIMEOUT:-480}

skip() {
  echo "SKIP: $*"
  exit $SKIP
}

for tool in qemu-system-x86_64 cpio gzip dpkg-deb apt-get apt-cache ldd timeout; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (see docs/linux.md)"
done
busybox=$(command -v busybox || true)
[[ -n $busybox ]] || skip "busybox is not installed (package busybox-static)"
if ldd "$busybox" >/dev/null 2>&1; then
  skip "$busybox is not static (install busybox-static)"
fi
if [[ $with_tool == --with-tool ]]; then
  installed=$(realpath "${installed:?--with-tool needs the installed PREFIX}")
  [[ -x $installed/bin/quorvel ]] || { echo "missing $installed/bin/quorvel: install it first" >&2; exit 1; }
  installed_modules=$(find "$installed/lib" -name libquorvel-hid.so -printf '%h\n' | head -n 1)
  [[ -n $installed_modules ]] || { echo "no modules under $installed/lib" >&2; exit 1; }
  installed_rule=lib/udev/rules.d/70-quorvel.rules
  [[ -f $installed/$installed_rule ]] || { echo "missing $installed/$installed_rule" >&2; exit 1; }
fi
for program in libquorvel-setupapi.so libquorvel-hid.so libquorvel-posix.so \
  quorvel_kernel_lab_probe quorvel_uhid_relay_board quorvel_usbip_relay_board; do
  [[ -e $bin/$program ]] || { echo "missing $bin/$program: build it first" >&2; exit 1; }
done

# The kernel: the version the metapackage follows (bookworm-security keeps only the newest).
mkdir -p "$work"
package=$(apt-cache depends linux-image-amd64 2>/dev/null |
  awk '/Depends: linux-image-[0-9]/ { print $2; exit }')
[[ -n $package ]] || skip "apt knows no linux-image-amd64 (run apt-get update)"
version=${package#linux-image-}
deb=$(compgen -G "$work/${package}_*.deb" | head -n 1 || true)
if [[ -z $deb ]]; then
  (cd "$work" && apt-get download "$package") >"$work/download.log" 2>&1 ||
    skip "cannot download $package (see $work/download.log)"
  deb=$(compgen -G "$work/${package}_*.deb" | head -n 1)
fi
kernel=$work/kernel-$version
if [[ ! -e $kernel/boot/vmlinuz-$version ]]; then
  rm -rf "$kernel"
  mkdir -p "$kernel"
  dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$kernel" --wildcards \
    "./boot/vmlinuz-$version" "./lib/modules/$version/kernel/drivers/hid/*" \
    "./lib/modules/$version/kernel/drivers/usb/*"
fi

# The initramfs: busybox, the modules the guest needs, the lab's programs and every shared
# library they load, at the paths the dynamic loader looks for them.
run=$work/run${with_tool:+-tool}
root=$run/root
rm -rf "$root"
mkdir -p "$root"/{bin,dev,proc,sys,tmp,modules,opt/quorvel}
cp "$busybox" "$root/bin/busybox"
modules=$kernel/lib/modules/$version/kernel/drivers
for module in hid/hid.ko hid/uhid.ko hid/hid-generic.ko usb/common/usb-common.ko \
  usb/core/usbcore.ko hid/usbhid/usbhid.ko usb/usbip/usbip-core.ko usb/usbip/vhci-hcd.ko; do
  cp "$modules/$module" "$root/modules/"
done
cp "$bin"/libquorvel-setupapi.so "$bin"/libquorvel-hid.so "$bin"/libquorvel-posix.so \
  "$bin"/quorvel_kernel_lab_probe "$bin"/quorvel_uhid_relay_board \
  "$bin"/quorvel_usbip_relay_board "$root/opt/quorvel/"
if [[ $with_tool == --with-tool ]]; then
  # The tool as a user installs it: the installed tree's tool, modules and udev rule become
  # the guest's /usr (udev would read the rule from /usr/lib/udev/rules.d).
  mkdir -p "$root/usr"
  (cd "$installed" && cp -a --parents bin/quorvel "${installed_modules#"$installed"/}" \
    "$installed_rule" "$root/usr/")
  cp "$(dirname "$0")/board-commands.sh" "$root/init-board-commands.sh"
  # A JSON parser for the checks of the tool's JSON.
  if command -v jq >/dev/null; then
    mkdir -p "$root/opt/jq"
    cp -L "$(command -v jq)" "$root/opt/jq/"
  else
    echo "note: jq is not installed: the guest does not check the tool's JSON" >&2
  fi
  # The MQTT bridge with Debian's broker and its clients.
  broker=$(PATH=$PATH:/usr/sbin:/sbin; command -v mosquitto) || true
  if [[ ! -x $installed/bin/quorvel-mqtt ]]; then
    echo "note: the installed tree has no quorvel-mqtt: the guest does not run the bridge" >&2
  elif [[ -z $broker ]] || ! command -v mosquitto_pub >/dev/null ||
    ! command -v mosquitto_sub >/dev/null; then
    echo "note: mosquitto or mosquitto-clients is not installed: the guest does not run the" \
      "bridge" >&2
  else
    (cd "$installed" && cp -a --parents bin/quorvel-mqtt "$root/usr/")
    mkdir -p "$root/opt/mqtt"
    cp -L "$broker" "$(command -v mosquitto_pub)" "$(command -v mosquitto_sub)" "$root/opt/mqtt/"
    cp "$(dirname "$0")/mqtt-bridge.sh" "$root/init-mqtt-bridge.sh"
  fi
  # The guest names the installed modules' folder where a sanitizer hides the run path.
  echo "/usr/${installed_modules#"$installed"/}" >"$root/opt/quorvel/installed-modules"
fi
# The open counts of the tool's calls: a HID device that is no board, and the checks.
if [[ $with_tool == --with-tool && -e $bin/quorvel_uhid_sensor ]]; then
  cp "$bin/quorvel_uhid_sensor" "$root/opt/quorvel/"
  cp "$(dirname "$0")/open-counts.sh" "$root/init-open-counts.sh"
fi
# The peer tool of the comparison, with its libraries (hidapi, libudev) like ours.
peer=
if [[ $with_tool == --with-tool && -n ${QUORVEL_LAB_BENCH:-} ]]; then
  peer=$(command -v usbrelay || true)
  if [[ -n $peer ]]; then
    mkdir -p "$root/opt/peer"
    cp -L "$peer" "$root/opt/peer/usbrelay"
    peer=$root/opt/peer/usbrelay
  else
    echo "note: usbrelay is not installed: the guest times quorvel alone" >&2
  fi
fi
for program in "$root"/opt/quorvel/* "$root"/opt/jq/* "$root"/opt/mqtt/* "$root"/usr/bin/* \
  ${peer:+"$peer"}; do
  [[ -f $program && -x $program ]] || continue
  ldd "$program" | awk '/=> \// { print $3 } /^\t\// { print $1 }'
done | sort -u | while read -r library; do
  [[ $library == "$root"/* ]] || cp -L --parents "$library" "$root"
done
# A sanitizer's dlopen interceptor hides the program's run path from dlopen: tell the
# guest to name the modules' folders instead.
# A sanitized run of the tool takes some 0.6 s in the guest (against 0.03 s): its soak is
# a tenth as long.
soak=1000
if ldd "$bin/quorvel_kernel_lab_probe" | grep -q libasan; then
  touch "$root/opt/quorvel/sanitized"
  soak=100
fi
# The tool's soak: alternating switches of the uhid board.
echo "${QUORVEL_LAB_SOAK:-$soak}" >"$root/opt/quorvel/soak-count"
cp "$(dirname "$0")/init.sh" "$root/init"
chmod +x "$root/init"
(cd "$root" && find . -print0 | cpio --null -o -H newc --quiet | gzip -1) >"$run/initramfs.cpio.gz"

# Boot; the guest prints its checks on the serial console and powers off.
console=$run/console.log
status=0
timeout "$timeout_s" qemu-system-x86_64 -accel tcg -m 512 -smp 1 -nographic -no-reboot \
  -nic none -kernel "$kernel/boot/vmlinuz-$version" -initrd "$run/initramfs.cpio.gz" \
  -append "console=ttyS0 quiet panic=-1${QUORVEL_LAB_BENCH:+ QUORVEL_LAB_BENCH=$QUORVEL_LAB_BENCH}" </dev/null >"$console" 2>&1 || status=$?
tr -d '\r' <"$console" | sed -n '/QUORVEL-LAB-BEGIN/,/QUORVEL-LAB-END/p'
if ((status == 124)); then
  echo "the guest did not finish within ${timeout_s} s (console: $console)" >&2
  exit 1
fi
result=$(tr -d '\r' <"$console" | grep -E '^QUORVEL-LAB: [0-9]+ passed, [0-9]+ failed$' || true)
if [[ -z $result ]]; then
  echo "the guest printed no result (console: $console)" >&2
  tail -n 30 "$console" >&2
  exit 1
fi
[[ $result == *", 0 failed" ]]
