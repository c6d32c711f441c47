# shellcheck shell=dash
# Sourced by the lab's /init when the tool is in the guest: how often the tool opens hidraw
# nodes, counted by the kernel. Every open of a USB HID node costs the device tens of
# milliseconds, so a listing must open none and a switch exactly the board's node, once.
# ftrace counts the kernel's hidraw_open and the transports' open functions (uhid_hid_open,
# usbhid_open: the HID core calls them when a node's first user opens it); a second HID
# device that is no board (uhid-sensor, on the boards' shared vendor and product) logs each
# open the kernel announces to it. Run twice: the board on uhid, then on the real USB HID
# driver through USB/IP, the sensor beside it on uhid.
# With QUORVEL_LAB_BENCH=N on the kernel command line the calls are also timed, beside the same
# calls of Debian's usbrelay when run.sh put it in the guest (open_counts_compare;
# bench/kernel-lab-compare.sh gathers the lines).

open_counts_tracing=/sys/kernel/tracing
open_counts_sensor_log=/tmp/uhid-sensor.log

# Starts a program in the background and waits for its "ready"; prints its pid.
open_counts_start() {
  out=$1
  shift
  "$@" >"$out" 2>&1 &
  pid=$!
  for _ in $(seq 100); do
    grep -q ready "$out" && break
    sleep 0.05
  done
  echo $pid
}

open_counts_wait_nodes() {
  for _ in $(seq 200); do
    [ "$(ls /dev/hidraw* 2>/dev/null | wc -l)" = "$1" ] && return 0
    sleep 0.05
  done
  return 1
}

# Runs the tool with tracing on; sets hidraw, uhid, usbhid (kernel opens) and sensor.
open_counts_run() {
  out=$1
  shift
  echo >"$open_counts_tracing/trace"
  sensor_before=$(grep -c '^open$' "$open_counts_sensor_log")
  echo 1 >"$open_counts_tracing/tracing_on"
  "$@" >"$out" 2>&1
  echo 0 >"$open_counts_tracing/tracing_on"
  hidraw=$(grep -c ' hidraw_open <-' "$open_counts_tracing/trace")
  uhid=$(grep -c ' uhid_hid_open <-' "$open_counts_tracing/trace")
  usbhid=$(grep -c ' usbhid_open <-' "$open_counts_tracing/trace")
  sensor=$(($(grep -c '^open$' "$open_counts_sensor_log") - sensor_before))
  echo "opens $label $*: hidraw_open $hidraw, uhid $uhid, usbhid $usbhid, sensor $sensor"
}

# Centiseconds for RUNS runs of a command, from /proc/uptime.
open_counts_time() {
  runs=$1
  shift
  start=$(cut -d' ' -f1 /proc/uptime | tr -d .)
  for _ in $(seq "$runs"); do
    "$@" >/dev/null 2>&1
  done
  end=$(cut -d' ' -f1 /proc/uptime | tr -d .)
  echo "time $label $*: $(((end - start) * 10 / runs)) ms per run over $runs runs"
}

# LABEL TRANSPORT (uhid or usbhid): the board is up with relays off, the sensor beside it.
open_counts_calls() {
  label=$1
  transport=$2
  tool=/usr/bin/quorvel
  open_counts_run /tmp/opens.out $tool
  grep -q 'USBRelay8' /tmp/opens.out && grep -q 'QLab Sensor' /tmp/opens.out
  listed=$?
  [ $listed = 0 ] && [ "$hidraw" = 0 ] && [ "$sensor" = 0 ]
  check $? "$label: the listing shows both devices and opens no hidraw node"
  open_counts_run /tmp/opens.out $tool -h
  [ "$hidraw" = 0 ] && [ "$sensor" = 0 ]
  check $? "$label: quorvel -h opens no hidraw node"
  for call in ON=1:01 N=0x5A:5A; do
    open_counts_run /tmp/opens.out $tool "${call%%:*}"
    grep -q "Status: ${call#*:}" /tmp/opens.out
    switched=$?
    if [ "$transport" = uhid ]; then
      mine=$((uhid - sensor))
      other=$usbhid
    else
      mine=$usbhid
      other=$uhid
    fi
    [ $switched = 0 ] && [ "$hidraw" = 1 ] && [ $mine = 1 ] && [ "$sensor" = 0 ] && [ $other = 0 ]
    check $? "$label: quorvel ${call%%:*} switches and opens the board's node once, no other"
  done
  # A user without access to the nodes: still listed, no node opened, the permission hint.
  if [ -n "$open_counts_user" ]; then
    open_counts_run /tmp/opens.out su -s /bin/sh "$open_counts_user" -c "$tool ON=2"
    grep -q 'could not be opened for writing' /tmp/opens.out
    hinted=$?
    [ $hinted = 0 ] && [ "$hidraw" = 0 ]
    check $? "$label: a user without access gets the permission hint and opens nothing"
  fi
}

# RUNS runs of the tool's call and of the peer's, interleaved in rounds of four so that both see
# the same load of the machine; prints a time line for each.
open_counts_time_pair() {
  runs=$1
  mine=$2
  theirs=$3
  mine_cs=0
  theirs_cs=0
  timed=0
  while [ $timed -lt "$runs" ]; do
    start=$(cut -d' ' -f1 /proc/uptime | tr -d .)
    for _ in 1 2 3 4; do $mine >/dev/null 2>&1; done
    middle=$(cut -d' ' -f1 /proc/uptime | tr -d .)
    for _ in 1 2 3 4; do $theirs >/dev/null 2>&1; done
    end=$(cut -d' ' -f1 /proc/uptime | tr -d .)
    mine_cs=$((mine_cs + middle - start))
    theirs_cs=$((theirs_cs + end - middle))
    timed=$((timed + 4))
  done
  echo "time $label $mine: $((mine_cs * 10 / timed)) ms per run over $timed runs"
  echo "time $label $theirs: $((theirs_cs * 10 / timed)) ms per run over $timed runs"
}

# The comparison (QUORVEL_LAB_BENCH=N): the board alone, as a user has it, on uhid and then
# through USB/IP; each call of the tool and of Debian's usbrelay (when run.sh put it here, as
# /opt/peer/usbrelay) counted once and timed over N runs, then timed again with the guest's
# address-space randomisation off (qemu then reuses the code it translated for an earlier
# process, which leaves more of what a real processor would spend). The peer gives up when
# another device on the boards' vendor and product (the sensor) does not answer as a board,
# hence alone; it asks for a numbered feature report, which the board answers as the boards'
# firmware does (any-report). Printed, never checked.
open_counts_compare() {
  tool=/usr/bin/quorvel  # as installed, like the open counts above
  peer=/opt/peer/usbrelay
  [ -x $tool ] || echo "# compare: no $tool to time"
  eight="QOPEN_1=0 QOPEN_2=1 QOPEN_3=0 QOPEN_4=1 QOPEN_5=1 QOPEN_6=0 QOPEN_7=1 QOPEN_8=0"
  read -r randomize </proc/sys/kernel/randomize_va_space
  for transport in uhid usbip; do
    if [ $transport = uhid ]; then
      board_pid=$(open_counts_start /tmp/compare-board.out /opt/quorvel/quorvel_uhid_relay_board \
        USBRelay8 8 QOPEN /tmp/compare-board.log any-report)
    else
      board_pid=$(open_counts_start /tmp/compare-board.out /opt/quorvel/quorvel_usbip_relay_board \
        QOPEN /tmp/compare-board.log any-report)
    fi
    open_counts_wait_nodes 1 || echo "# compare: the $transport board did not come up"
    label=$transport
    for call in "" ON=1 N=0x5A; do
      open_counts_run /tmp/compare.out $tool $call
    done
    if [ -x $peer ]; then
      # What the peer asks of the board for its listing, once.
      : >/tmp/compare-board.log
      open_counts_run /tmp/compare.out $peer
      grep -q '^QOPEN_1=' /tmp/compare.out || sed 's/^/# compare: usbrelay: /' /tmp/compare.out
      sed "s/^/# compare: $transport board, usbrelay's listing: /" /tmp/compare-board.log
      open_counts_run /tmp/compare.out $peer QOPEN_1=1
      # shellcheck disable=SC2086 # eight arguments
      open_counts_run /tmp/compare.out $peer $eight
      $peer >/tmp/compare.out 2>&1
      grep -q '^QOPEN_2=1' /tmp/compare.out && grep -q '^QOPEN_8=0' /tmp/compare.out ||
        echo "# compare: usbrelay's eight relays did not read back as 0x5A"
    fi
    for fixed in "" -fixed; do
      label=$transport$fixed
      [ -n "$fixed" ] && echo 0 >/proc/sys/kernel/randomize_va_space
      if [ -x $peer ]; then
        open_counts_time_pair "$QUORVEL_LAB_BENCH" "$tool" "$peer"
        open_counts_time_pair "$QUORVEL_LAB_BENCH" "$tool ON=1" "$peer QOPEN_1=1"
        open_counts_time_pair "$QUORVEL_LAB_BENCH" "$tool N=0x5A" "$peer $eight"
      else
        for call in "" ON=1 N=0x5A; do
          open_counts_time "$QUORVEL_LAB_BENCH" $tool $call
        done
      fi
      echo "$randomize" >/proc/sys/kernel/randomize_va_space
    done
    kill "$board_pid"
    open_counts_wait_nodes 0
  done
}

open_counts_lab() {
  mount -t tracefs nodev "$open_counts_tracing" 2>/dev/null
  traced=0
  echo 0 >"$open_counts_tracing/tracing_on" || traced=1
  for function in hidraw_open uhid_hid_open usbhid_open; do
    echo "$function" >>"$open_counts_tracing/set_ftrace_filter" || traced=1
  done
  echo function >"$open_counts_tracing/current_tracer" || traced=1
  check $traced "ftrace traces hidraw_open and the transports' opens"
  [ $traced = 0 ] || return
  # An unprivileged user for the permission check; nodes stay root's, mode 0600.
  open_counts_user=
  mkdir -p /etc
  if grep -q '^lab:' /etc/passwd 2>/dev/null ||
    { echo 'lab:x:1000:1000::/tmp:/bin/sh' >>/etc/passwd && echo 'lab:x:1000:' >>/etc/group; }; then
    open_counts_user=lab
  fi
  : >"$open_counts_sensor_log"
  sensor_pid=$(open_counts_start /tmp/sensor.out /opt/quorvel/quorvel_uhid_sensor 'QLab Sensor' \
    "$open_counts_sensor_log")
  open_counts_wait_nodes 1
  board_pid=$(open_counts_start /tmp/opens-board.out /opt/quorvel/quorvel_uhid_relay_board \
    USBRelay8 8 QOPEN /tmp/opens-board.log)
  open_counts_wait_nodes 2
  check $? "uhid board and sensor plugged in"
  # The counts themselves: one open of the sensor's node is seen by ftrace and by the sensor.
  label=control
  node=$(grep -l 'HID_NAME=QLab Sensor' /sys/class/hidraw/*/device/uevent | cut -d/ -f5)
  open_counts_run /tmp/opens.out sh -c "exec 3</dev/$node"
  [ -n "$node" ] && [ "$hidraw" = 1 ] && [ "$uhid" = 1 ] && [ "$sensor" = 1 ]
  check $? "one open of the sensor's node is counted by ftrace and by the sensor"
  open_counts_calls uhid uhid
  kill "$board_pid"
  open_counts_wait_nodes 1
  board_pid=$(open_counts_start /tmp/opens-board.out /opt/quorvel/quorvel_usbip_relay_board QOPEN \
    /tmp/opens-usb-board.log)
  open_counts_wait_nodes 2
  check $? "USB/IP board plugged in beside the sensor"
  open_counts_calls usbip usbhid
  kill "$board_pid" "$sensor_pid"
  open_counts_wait_nodes 0
  if [ -n "$QUORVEL_LAB_BENCH" ]; then
    open_counts_compare
  fi
  echo nop >"$open_counts_tracing/current_tracer"
}
