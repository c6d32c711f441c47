#!/bin/busybox sh
# shellcheck shell=dash
# /init of the lab's guest: mount the kernel's file systems, load the HID and USB modules,
# run the probe against a uhid relay board, then the tool if it is here, and power off.
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for module in hid uhid hid-generic usb-common usbcore usbhid usbip-core vhci-hcd; do
  insmod /modules/$module.ko || echo "cannot load $module"
done
ip link set lo up
if [ -e /opt/quorvel/sanitized ]; then
  LD_LIBRARY_PATH=/opt/quorvel
  # The installed tool's own modules, not the build's, come first.
  if [ -e /opt/quorvel/installed-modules ]; then
    LD_LIBRARY_PATH=$(cat /opt/quorvel/installed-modules):$LD_LIBRARY_PATH
  fi
  export LD_LIBRARY_PATH
fi

echo QUORVEL-LAB-BEGIN
passed=0
failed=0
check() {
  if [ "$1" = 0 ]; then
    passed=$((passed + 1))
    echo "ok $2"
  else
    failed=$((failed + 1))
    echo "not ok $2"
  fi
}

/opt/quorvel/quorvel_kernel_lab_probe /opt/quorvel/quorvel_uhid_relay_board \
  /opt/quorvel/quorvel_usbip_relay_board >/tmp/probe.out 2>&1
probe=$?
cat /tmp/probe.out
counts=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' /tmp/probe.out)
if [ -n "$counts" ]; then
  passed=$((passed + ${counts%% passed*}))
  rest=${counts#*, }
  failed=$((failed + ${rest%% failed*}))
fi
check $probe "probe finished cleanly"

# ---------------------------------------------------------------------------------------
# The tool in the guest as installed (run.sh --with-tool PREFIX): /usr/bin/quorvel, its
# modules in /usr/lib/<multiarch>/quorvel, its udev rule in /usr/lib/udev/rules.d. Each
# section plugs its own board and leaves no board behind.
tool=/usr/bin/quorvel
rules=/usr/lib/udev/rules.d/70-quorvel.rules
uhid_board=/opt/quorvel/quorvel_uhid_relay_board
usb_board=/opt/quorvel/quorvel_usbip_relay_board

# The number of hidraw nodes.
nodes() {
  set -- /dev/hidraw*
  [ -e "$1" ] && echo $# || echo 0
}

# Starts a board program in the background ($board is its pid) and waits for its node.
plug() {
  before=$(nodes)
  "$@" >/tmp/board.out 2>&1 &
  board=$!
  for _ in $(seq 100); do [ "$(nodes)" -gt "$before" ] && return 0; sleep 0.05; done
  check 1 "$* plugged in: $(cat /tmp/board.out)"
  kill "$board" 2>/dev/null
  wait "$board"
  return 1
}

# Each USB/IP board of the tool's sections takes a port of its own (the probe's took 0).
usb_port=0
next_usb_port() {
  usb_port=$((usb_port + 1))
}

# Waits for every node to go (a USB/IP detach completes after the program's own part).
gone() {
  for _ in $(seq 200); do [ "$(nodes)" = 0 ] && return 0; sleep 0.05; done
  return 1
}

unplug() {
  kill "$board" 2>/dev/null
  wait "$board"
  gone
}

# Seconds since boot, to a hundredth.
uptime_s() {
  read -r up _ </proc/uptime
  echo "$up"
}

# Seconds from $1 (an uptime_s) to $2 (another, or now), to a hundredth.
seconds_since() {
  echo "${2:-$(uptime_s)} $1" | awk '{ printf "%.2f", $1 - $2 }'
}

tool_basics() {
  plug $uhid_board USBRelay2 2 QTOOL /tmp/tool-board.log || return
  $tool >/tmp/listing.out 2>&1
  cat /tmp/listing.out
  grep -q 'USBRelay2' /tmp/listing.out
  check $? "tool lists the board"
  $tool ON=1,2 >/tmp/switch.out 2>&1
  cat /tmp/switch.out
  grep -q 'Status: 03' /tmp/switch.out
  check $? "tool switches relays 1 and 2 on"
  $tool OFF=1 >/tmp/switch.out 2>&1
  cat /tmp/switch.out
  grep -q 'Status: 02' /tmp/switch.out
  check $? "tool switches relay 1 off"
  unplug
}

# --- Without permission, then with the project's udev rule ------------------------------
# A user of group plugdev; the node is root's 0600, as devtmpfs makes it without udev.
as_user() {
  su -s /bin/sh lab -c "$*"
}

# The effect udev gives the installed rule: the guest runs no udev daemon, so the rule's
# GROUP and MODE are applied to the node here where all its ATTRS match one device on the
# node's sysfs path, as udev matches them (the product as a pattern). TAG+="uaccess" needs
# a seat manager, which the guest has not: the group is what lets the user in.
# Whether the text $1 matches the udev pattern $2 (the shell's patterns are the same for
# the rule's "*").
matches() {
  # shellcheck disable=SC2254
  case $1 in $2) return 0 ;; esac
  return 1
}

apply_rule() {
  rule=$(grep '^SUBSYSTEM=="hidraw"' $rules)
  vendor=$(echo "$rule" | sed -n 's/.*ATTRS{idVendor}=="\([^"]*\)".*/\1/p')
  product=$(echo "$rule" | sed -n 's/.*ATTRS{idProduct}=="\([^"]*\)".*/\1/p')
  name=$(echo "$rule" | sed -n 's/.*ATTRS{product}=="\([^"]*\)".*/\1/p')
  mode=$(echo "$rule" | sed -n 's/.*MODE="\([^"]*\)".*/\1/p')
  group=$(echo "$rule" | sed -n 's/.*GROUP="\([^"]*\)".*/\1/p')
  [ -n "$vendor" ] && [ -n "$product" ] && [ -n "$name" ] && [ -n "$mode" ] &&
    [ -n "$group" ] || return 1
  dir=$(realpath "/sys/class/hidraw/$1")
  while [ "$dir" != /sys ]; do
    if [ "$(cat "$dir/idVendor" 2>/dev/null)" = "$vendor" ] &&
      [ "$(cat "$dir/idProduct" 2>/dev/null)" = "$product" ] &&
      matches "$(cat "$dir/product" 2>/dev/null)" "$name"; then
      chgrp "$group" "/dev/$1" && chmod "$mode" "/dev/$1"
      return
    fi
    dir=${dir%/*}
  done
  return 1
}

tool_permissions() {
  mkdir -p /etc
  echo 'root:x:0:0:root:/:/bin/sh' >/etc/passwd
  echo 'lab:x:1000:1000:lab:/tmp:/bin/sh' >>/etc/passwd
  printf 'root:x:0:\nplugdev:x:46:lab\nlab:x:1000:\n' >/etc/group
  # The rule matches USB devices: the board on usbhid, through USB/IP.
  rm -f /tmp/perm-board.log
  next_usb_port
  plug $usb_board QPERM /tmp/perm-board.log port=$usb_port || return
  node=$(stat -c '%a %U' /dev/hidraw0)
  user=$(as_user id)
  as_user $tool >/tmp/perm.out 2>&1
  status=$?
  cat /tmp/perm.out
  [ "$node" = "600 root" ] && [ "${user#uid=1000(lab) gid=1000(lab) groups=}" != "$user" ] &&
    [ $status = 0 ] && grep -q '^  \* USBRelay8' /tmp/perm.out
  check $? "without permission: the tool lists the board ($user; node $node)"
  as_user $tool ON=1 >/tmp/perm.out 2>&1
  status=$?
  cat /tmp/perm.out
  [ $status = 3 ] && [ "$(cat /tmp/perm.out)" = "
ERROR: Could not read the state of relay board 1!
    The device exists but could not be opened for writing; see the README on permissions." ] &&
    [ ! -s /tmp/perm-board.log ]
  check $? "without permission: switching prints the permission hint, status 3 ($status)"
  apply_rule hidraw0
  check $? "the installed udev rule matches the USB board: $(stat -c '%a %G' /dev/hidraw0)"
  as_user $tool ON=1 >/tmp/perm.out 2>&1
  status=$?
  cat /tmp/perm.out
  [ $status = 0 ] && [ "$(cat /tmp/perm.out)" = "
    Status: 01" ] && grep -q '^set 0300: ff 01' /tmp/perm-board.log
  check $? "with the rule applied the same user switches the board ($status)"
  unplug
  # Another device on the boards' shared IDs keeps its root-only node.
  next_usb_port
  plug $usb_board QOTHR /dev/null port=$usb_port product=OtherVUSB || return
  apply_rule hidraw0
  rule_status=$?
  node=$(stat -c '%a %U' /dev/hidraw0)
  [ $rule_status = 1 ] && [ "$node" = "600 root" ]
  check $? "the installed udev rule leaves a device of another product string alone ($node)"
  unplug
}

# --- Unplugged in the middle ------------------------------------------------------------
# The board leaves when the tool's Nth feature request reaches it (the request is never
# answered): a uhid board destroys its device, a USB/IP board is detached. ON=1 on a board
# whose relays are off sends a read, eight commands and a read: requests 1 to 10.
unplug_case() {
  kind=$1 at=$2 message=$3 what=$4
  rm -f /tmp/unplug.log
  if [ "$kind" = uhid ]; then
    plug $uhid_board USBRelay2 2 QUNPL /tmp/unplug.log "unplug-at=$at" || return
  else
    next_usb_port
    plug $usb_board QUNPL /tmp/unplug.log port=$usb_port "unplug-at=$at" || return
  fi
  started=$(uptime_s)
  timeout 60 $tool ON=1 >/tmp/unplug.out 2>&1
  status=$?
  took=$(seconds_since "$started")
  cat /tmp/unplug.out
  # The board notes its unplug before it acts; without the note it is still plugged in.
  grep -q '^unplugged' /tmp/unplug.log || kill "$board"
  wait "$board"
  gone
  requests=$(grep -c '^[gs]et ' /tmp/unplug.log)
  # The message alone: no Status line, nothing else.
  [ $status = 3 ] && [ "$(cat /tmp/unplug.out)" = "
ERROR: $message relay board 1!" ] && [ "$requests" = "$at" ] &&
    grep -q '^unplugged' /tmp/unplug.log
  check $? "$kind board unplugged $what: '$message', status 3 ($status, request $requests, $took s)"
  $tool ON=1 >/tmp/unplug.out 2>&1
  status=$?
  [ $status = 2 ] && [ "$(cat /tmp/unplug.out)" = "
ERROR: ID supplied is greater than the number of relay boards currently available!" ]
  check $? "$kind board unplugged $what: the next run finds no board ($status)"
}

# A USB/IP board detached with a request in flight: the kernel ends the request only after
# about 5 s (usbhid's control timeout), so that board is unplugged at two moments only.
tool_unplugged() {
  unplug_case uhid 1 'Could not read the state of' 'at the first read'
  unplug_case uhid 2 'Could not switch' 'after the first read, at the first command'
  unplug_case uhid 5 'Could not switch' 'during the commands (the fourth)'
  unplug_case uhid 10 'Could not switch' 'at the final read'
  unplug_case usb 2 'Could not switch' 'after the first read, at the first command'
  unplug_case usb 5 'Could not switch' 'during the commands (the fourth)'
}

# --- Soak -------------------------------------------------------------------------------
# Alternating switches of the uhid board, each state checked in the board's own model (its
# state file, written before it answers) as well as on the tool's Status line.
# qemu's TCG finds code it translated before by its virtual address: with address-space
# randomisation every run is translated afresh, some 15 times slower. It is off meanwhile.
tool_soak() {
  count=$(cat /opt/quorvel/soak-count)
  plug $uhid_board USBRelay2 2 QSOAK /dev/null state=/tmp/soak.state || return
  read -r randomize </proc/sys/kernel/randomize_va_space
  echo 0 >/proc/sys/kernel/randomize_va_space
  started=$(uptime_s)
  switched=0
  failure=
  while [ $switched -lt "$count" ]; do
    if [ $((switched % 2)) = 0 ]; then
      set -- ON=1 OFF=2
      want=01
    else
      set -- OFF=1 ON=2
      want=02
    fi
    out=$($tool "$@" 2>&1)
    status=$?
    read -r state </tmp/soak.state
    if [ $status != 0 ] || [ "$state" != $want ] || [ "$out" != "
    Status: $want" ]; then
      failure=" - switch $((switched + 1)) ($*): status $status, board $state: $out"
      break
    fi
    switched=$((switched + 1))
    [ $((switched % 100)) = 0 ] && echo "# soak: $switched switches, $(uptime_s) s since boot"
  done
  took=$(echo "$(uptime_s) $started" | awk '{ printf "%.1f", $1 - $2 }')
  [ $switched = "$count" ]
  check $? "soak: $switched of $count alternating switches, each read back from the board$failure"
  echo "# soak: $switched switches in $took s"
  unplug
  echo "$randomize" >/proc/sys/kernel/randomize_va_space
}

if [ -x $tool ]; then
  tool_basics
  tool_permissions
  tool_unplugged
  tool_soak
fi

# The tool's board commands on two boards with IDs (board-commands.sh), and the MQTT bridge
# on a broker in the guest (mqtt-bridge.sh, when run.sh found the broker on the host).
if [ -x $tool ] && [ -e /init-board-commands.sh ]; then
  section=$(uptime_s)
  . /init-board-commands.sh
  board_commands_lab
  echo "# board commands: $(seconds_since "$section") s"
fi
if [ -x $tool ] && [ -e /init-mqtt-bridge.sh ]; then
  section=$(uptime_s)
  . /init-mqtt-bridge.sh
  mqtt_bridge_lab
  echo "# bridge: $(seconds_since "$section") s"
fi

# Open counts of the tool's calls (open-counts.sh).
if [ -x $tool ] && [ -e /init-open-counts.sh ]; then
  . /init-open-counts.sh
  open_counts_lab
fi

echo "QUORVEL-LAB: $passed passed, $failed failed"
echo QUORVEL-LAB-END
poweroff -f
