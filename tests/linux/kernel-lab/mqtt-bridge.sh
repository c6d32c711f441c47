# shellcheck shell=dash disable=SC2154 # tool, the board programs and plug come from /init
# Sourced by the lab's /init when the installed MQTT bridge is in the guest with Debian's
# broker and its clients (run.sh copies them in from the host, under /opt/mqtt): a broker on
# the guest's loopback, /usr/bin/quorvel-mqtt serving a uhid board, one relay switched
# through the broker (checked in the board's log and state file, and in the state published
# back and retained), then hotplug with the kernel's own uevents: a board plugged in and
# unplugged while the bridge runs, each announced on its availability topic. The bridge
# re-reads only once a minute here, so the announcements come from the uevents. The time
# from plugging or unplugging to the announcement is printed ("# bridge: ..."), never
# checked; the wait for it gives up after 5 s.

mqtt_bridge=/usr/bin/quorvel-mqtt
mqtt_clients=/opt/mqtt
mqtt_messages=/tmp/mqtt-messages

mqtt_pub() {
  $mqtt_clients/mosquitto_pub -h 127.0.0.1 -q 1 "$@"
}

# The retained message of topic $1 ("Timed out" when there is none within 2 s).
mqtt_retained() {
  $mqtt_clients/mosquitto_sub -h 127.0.0.1 --retained-only -C 1 -W 2 -t "$1" 2>&1
}

# Waits for the message "TOPIC PAYLOAD" ($1, a grep pattern) on the subscriber's log, after
# its line $2; sets mqtt_at to the seconds since boot it came at. Fails after 5 s.
mqtt_await() {
  for _ in $(seq 100); do
    line=$(tail -n +$(($2 + 1)) $mqtt_messages | grep -m 1 " $1\$")
    if [ -n "$line" ]; then
      mqtt_at=${line%% *}
      return 0
    fi
    sleep 0.05
  done
  return 1
}

mqtt_lines() {
  wc -l <$mqtt_messages
}

mqtt_bridge_switch() {
  : >/tmp/mqtt-board.log
  seen=$(mqtt_lines)
  mqtt_pub -t quorvel/QMQTT/1/set -m ON
  mqtt_await 'quorvel/QMQTT/state {.*"mask":1[,}].*' "$seen"
  published=$?
  sed 's/^/# /' /tmp/mqtt-board.log
  read -r state </tmp/mqtt-board.state
  # The tool's switching: a read, relay 1 on and the others off, a read; bytes 3 to 8 as the
  # first read left them (the end of the ID, 0 and the state).
  [ $published = 0 ] && [ "$state" = 01 ] && [ "$(cat /tmp/mqtt-board.log)" = "get 0:
set 0: 00 ff 01 51 54 54 00 00 00
set 0: 00 fd 02 51 54 54 00 00 00
set 0: 00 fd 03 51 54 54 00 00 00
set 0: 00 fd 04 51 54 54 00 00 00
set 0: 00 fd 05 51 54 54 00 00 00
set 0: 00 fd 06 51 54 54 00 00 00
set 0: 00 fd 07 51 54 54 00 00 00
set 0: 00 fd 08 51 54 54 00 00 00
get 0:" ]
  check $? "quorvel/QMQTT/1/set ON: relay 1 switched on at the board, its new state published"
  retained=$(mqtt_retained quorvel/QMQTT/state)
  relay=$(mqtt_retained quorvel/QMQTT/1)
  echo "# retained: state $retained, relay 1 $relay"
  if [ -x /opt/jq/jq ]; then
    echo "$retained" | /opt/jq/jq -e '. == {"mask": 1, "relay1": "ON", "relay2": "OFF"}' >/dev/null
    parsed=$?
  else
    echo "# note: jq is not installed on the host: the retained state's JSON is not parsed"
    parsed=0
  fi
  [ $parsed = 0 ] && [ "$relay" = ON ]
  check $? "the board's new state is retained: mask 1, relay 1 ON, relay 2 OFF"
}

mqtt_bridge_hotplug() {
  seen=$(mqtt_lines)
  started=$(uptime_s)
  plug "$uhid_board" USBRelay8 8 QHOTP /dev/null || return
  mqtt_await 'quorvel/QHOTP/availability online' "$seen"
  check $? "a board plugged in while the bridge runs: online"
  online=$(seconds_since "$started" "$mqtt_at")
  seen=$(mqtt_lines)
  started=$(uptime_s)
  kill "$board" 2>/dev/null
  wait "$board" 2>/dev/null
  mqtt_await 'quorvel/QHOTP/availability offline' "$seen"
  check $? "the board unplugged while the bridge runs: offline"
  offline=$(seconds_since "$started" "$mqtt_at")
  echo "# bridge: hotplug (uevents): online ${online} s after the board's program started," \
    "offline ${offline} s after it was stopped"
}

mqtt_bridge_lab() {
  mkdir -p /etc
  printf 'listener 1883 127.0.0.1\nallow_anonymous true\nuser root\nset_tcp_nodelay true\n' \
    >/tmp/mosquitto.conf
  $mqtt_clients/mosquitto -c /tmp/mosquitto.conf >/tmp/broker.out 2>&1 &
  broker=$!
  for _ in $(seq 100); do
    mqtt_pub -t quorvel-lab/ping -m up 2>/dev/null && break
    sleep 0.05
  done
  # Every message of the bridge, each with the seconds since boot it came at.
  : >$mqtt_messages
  {
    $mqtt_clients/mosquitto_sub -h 127.0.0.1 -v -t 'quorvel/#' -t quorvel-lab/ping &
    echo $! >/tmp/mqtt-sub.pid
    wait
  } | while read -r message; do
    echo "$(uptime_s) $message"
  done >>$mqtt_messages &
  for _ in $(seq 100); do
    mqtt_pub -t quorvel-lab/ping -m subscribed
    grep -q 'quorvel-lab/ping subscribed' $mqtt_messages && break
    sleep 0.05
  done
  grep -q 'quorvel-lab/ping subscribed' $mqtt_messages
  check $? "the broker runs on the guest's loopback: $(cat /tmp/broker.out)"

  if plug "$uhid_board" USBRelay2 2 QMQTT /tmp/mqtt-board.log state=/tmp/mqtt-board.state; then
    mqtt_board=$board
    $mqtt_bridge --host 127.0.0.1 --interval 60 >/tmp/bridge.out 2>&1 &
    bridge=$!
    mqtt_await 'quorvel/QMQTT/availability online' 0
    check $? "quorvel-mqtt announces the board"
    mqtt_bridge_switch
    mqtt_bridge_hotplug
    kill -TERM "$bridge"
    wait "$bridge"
    stopped=$?
    sed 's/^/# bridge: /' /tmp/bridge.out
    [ $stopped = 0 ] && [ "$(mqtt_retained quorvel/bridge/availability)" = offline ]
    check $? "SIGTERM: the bridge stops with status 0 and leaves itself offline ($stopped)"
    board=$mqtt_board
    unplug
  fi
  kill "$(cat /tmp/mqtt-sub.pid)" "$broker"
  wait "$broker" 2>/dev/null
}
