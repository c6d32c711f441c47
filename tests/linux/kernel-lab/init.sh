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
  export LD_LIBRARY_PATH=/opt/quorvel
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

if [ -x /opt/quorvel/quorvel ]; then
  board=/opt/quorvel/quorvel_uhid_relay_board
  $board USBRelay2 2 QTOOL /tmp/tool-board.log >/tmp/tool-board.out 2>&1 &
  pid=$!
  for _ in $(seq 100); do [ -e /dev/hidraw0 ] && break; sleep 0.05; done
  /opt/quorvel/quorvel >/tmp/listing.out 2>&1
  cat /tmp/listing.out
  grep -q 'USBRelay2' /tmp/listing.out
  check $? "tool lists the board"
  /opt/quorvel/quorvel ON=1,2 >/tmp/switch.out 2>&1
  cat /tmp/switch.out
  grep -q 'Status: 03' /tmp/switch.out
  check $? "tool switches relays 1 and 2 on"
  /opt/quorvel/quorvel OFF=1 >/tmp/switch.out 2>&1
  cat /tmp/switch.out
  grep -q 'Status: 02' /tmp/switch.out
  check $? "tool switches relay 1 off"
  kill $pid
fi

# Open counts of the tool's calls (open-counts.sh).
if [ -x /opt/quorvel/quorvel ] && [ -e /init-open-counts.sh ]; then
  . /init-open-counts.sh
  open_counts_lab
fi

echo "QUORVEL-LAB: $passed passed, $failed failed"
echo QUORVEL-LAB-END
poweroff -f
