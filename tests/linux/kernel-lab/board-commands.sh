# shellcheck shell=dash disable=SC2154 # tool, the board programs and plug come from /init
# Sourced by the lab's /init when the tool is in the guest: the tool's board commands on two
# boards with IDs of their own, one on uhid and one on the real USB HID driver through
# USB/IP. A board chosen by its ID, by its device path and by a link to its node, `list` and
# `state` (reads only), two boards with one ID, and `set-id`, each checked against both
# boards' own logs of the requests on the wire and their state files (relay state and ID,
# BoardStateFile.h).
# The JSON of `list --json` and `state --json` is read with jq when run.sh found it on the
# host (/opt/jq/jq); without it those checks are left out with a note.

board_commands_jq=/opt/jq/jq

# The hidraw node whose sysfs path holds $1 (/uhid/ or /vhci_hcd), as /dev/hidrawN.
board_commands_node() {
  for node in /sys/class/hidraw/*; do
    case $(realpath "$node") in
      *"$1"*)
        echo "/dev/${node##*/}"
        return 0
        ;;
    esac
  done
  return 1
}

# A board's model: "STATE ID" from its state file.
board_commands_model() {
  {
    read -r state
    read -r id
  } <"$1"
  echo "$state $id"
}

# Runs the tool with both logs emptied first; sets out, status, a_sets and b_sets (the set
# requests each board received) and a_model and b_model (each board's state and ID after).
board_commands_run() {
  : >"$a_log"
  : >"$b_log"
  out=$($tool "$@" 2>&1)
  status=$?
  a_sets=$(grep -c '^set' "$a_log")
  b_sets=$(grep -c '^set' "$b_log")
  a_model=$(board_commands_model "$a_state")
  b_model=$(board_commands_model "$b_state")
  echo "$ $tool $*: status $status, uhid board $a_model ($a_sets sets), USB board $b_model ($b_sets sets)"
  echo "$out"
}

# Whether jq finds the JSON the tool printed ($out) equal to $1 (a jq expression; the
# boards' paths are $a and $b in it), keys in any order.
board_commands_json() {
  echo "$out" | $board_commands_jq -e --arg a "$a" --arg b "$b" ". == $1" >/dev/null
}

# The $a and $b in single quotes are jq's.
# shellcheck disable=SC2016
board_commands_checks() {
  # Chosen by ID, then by path: that board switches, the other receives no command.
  board_commands_run ID=QLAB2 ON=1,3
  [ $status = 0 ] && [ "$out" = "
    Status: 05" ] && [ "$b_model" = "05 QLAB2" ] && [ "$b_sets" -gt 0 ] &&
    [ "$a_model" = "00 QLAB1" ] && [ "$a_sets" = 0 ]
  check $? "ID=QLAB2 (the USB board's ID) switches that board alone"
  board_commands_run "ID=$a" ON=2
  [ $status = 0 ] && [ "$out" = "
    Status: 02" ] && [ "$a_model" = "02 QLAB1" ] && [ "$a_sets" -gt 0 ] &&
    [ "$b_model" = "05 QLAB2" ] && [ "$b_sets" = 0 ]
  check $? "ID=$a (the uhid board's path) switches that board alone"

  # A stable name by USB port, the link a udev rule's SYMLINK+= makes (the guest runs no udev
  # daemon), and the node spelled other ways: each leads to the USB board alone.
  mkdir -p /dev/relay
  ln -sf "../${b#/dev/}" /dev/relay/usb-port-1
  board_commands_run ID=/dev/relay/usb-port-1 ON=1
  [ $status = 0 ] && [ "$out" = "
    Status: 05" ] && [ "$b_sets" -gt 0 ] && [ "$a_sets" = 0 ]
  check $? "ID=/dev/relay/usb-port-1 (a link to the USB board's node) switches that board alone"
  board_commands_run ID=/dev//"${b#/dev/}" ON=1
  [ $status = 0 ] && [ "$b_sets" -gt 0 ] && [ "$a_sets" = 0 ]
  check $? "ID=/dev//${b#/dev/} (a repeated slash) switches the USB board alone"
  cd /dev/relay || return
  board_commands_run ID=../"${b#/dev/}" ON=1
  cd / || return
  [ $status = 0 ] && [ "$b_sets" -gt 0 ] && [ "$a_sets" = 0 ]
  check $? "ID=../${b#/dev/} from /dev/relay (a relative path) switches the USB board alone"
  board_commands_run ID=/dev/relay/nothing ON=1
  [ $status = 2 ] && [ "$out" = "
ERROR: No relay board has the path \"/dev/relay/nothing\"!" ] && [ "$a_sets" = 0 ] &&
    [ "$b_sets" = 0 ]
  check $? "ID=/dev/relay/nothing: no board has that path, status 2, nothing switched"
  # An ID that ID= would read as board number 1 is refused before anything is sent.
  board_commands_run set-id 00001 ID=QLAB2
  [ $status = 1 ] && [ "$b_model" = "05 QLAB2" ] && [ "$a_sets" = 0 ] && [ "$b_sets" = 0 ]
  check $? "set-id 00001: refused, status 1, nothing sent"

  # Listing and state: reads only.
  board_commands_run list
  [ $status = 0 ] && [ "$out" = "    1  QLAB1  2  Status: 02  $a
    2  QLAB2  8  Status: 05  $b" ] && [ "$a_sets" = 0 ] && [ "$b_sets" = 0 ] &&
    grep -q '^get' "$a_log" && grep -q '^get' "$b_log"
  check $? "list: number, ID, relay count, state and path of each board, nothing sent but reads"
  board_commands_run state ID=QLAB2
  [ $status = 0 ] && [ "$out" = "
    Status: 05" ] && [ "$a_sets" = 0 ] && [ "$b_sets" = 0 ] && grep -q '^get' "$b_log"
  check $? "state ID=QLAB2: the USB board's Status line, nothing sent but reads"
  if [ -x $board_commands_jq ]; then
    board_commands_run list --json
    [ $status = 0 ] && [ "$a_sets" = 0 ] && [ "$b_sets" = 0 ] && board_commands_json \
      '{"boards": [{"number": 1, "id": "QLAB1", "relays": 2, "state": 2, "path": $a},
                   {"number": 2, "id": "QLAB2", "relays": 8, "state": 5, "path": $b}]}'
    check $? "list --json, read with jq: both boards, nothing sent but reads"
    board_commands_run state --json "ID=$a"
    [ $status = 0 ] && [ "$a_sets" = 0 ] && [ "$b_sets" = 0 ] && board_commands_json \
      '{"number": 1, "id": "QLAB1", "relays": 2, "state": 2, "path": $a}'
    check $? "state --json ID=$a, read with jq: the uhid board, nothing sent but reads"
  else
    echo "# note: jq is not installed on the host: the JSON checks are left out"
  fi

  # A new ID: 0xFA and the five characters on the wire (on USB without the report ID), the
  # bytes behind them as the read before left them: 0 and the relay state.
  board_commands_run set-id QLAB1 ID=QLAB2
  [ $status = 0 ] && [ "$out" = "
    ID: QLAB1" ] && [ "$b_model" = "05 QLAB1" ] && [ "$a_sets" = 0 ] &&
    [ "$(grep '^set' "$b_log")" = "set 0300: fa 51 4c 41 42 31 00 05" ]
  check $? "set-id QLAB1 ID=QLAB2: 0xFA with the new ID sent to the USB board, which takes it"
  # Now both boards have the ID QLAB1.
  board_commands_run ID=QLAB1 OFF=ALL
  [ $status = 2 ] && [ "$out" = "
ERROR: More than one relay board has the ID \"QLAB1\"; give its number or its path instead:
    board 1: $a
    board 2: $b" ] && [ "$a_sets" = 0 ] && [ "$b_sets" = 0 ] &&
    [ "$a_model" = "02 QLAB1" ] && [ "$b_model" = "05 QLAB1" ]
  check $? "two boards with the ID QLAB1: both named, status 2, nothing switched"
  board_commands_run set-id QNEW1 "ID=$a"
  [ $status = 0 ] && [ "$out" = "
    ID: QNEW1" ] && [ "$a_model" = "02 QNEW1" ] && [ "$b_sets" = 0 ] &&
    [ "$(grep '^set' "$a_log")" = "set 0: 00 fa 51 4e 45 57 31 00 02" ]
  check $? "set-id QNEW1 ID=$a: 0xFA with the new ID sent to the uhid board, which takes it"

  # From then on each board is found by its new ID, and the old one is no board's.
  board_commands_run ID=QNEW1 OFF=ALL
  [ $status = 0 ] && [ "$out" = "
    Status: 00" ] && [ "$a_model" = "00 QNEW1" ] && [ "$b_model" = "05 QLAB1" ] &&
    [ "$b_sets" = 0 ]
  check $? "ID=QNEW1 switches the uhid board alone"
  board_commands_run state ID=QLAB1
  [ $status = 0 ] && [ "$out" = "
    Status: 05" ] && [ "$a_sets" = 0 ] && [ "$b_sets" = 0 ]
  check $? "state ID=QLAB1 reads the USB board, now the only one with that ID"
  board_commands_run ID=QLAB2 ON=1
  [ $status = 2 ] && [ "$out" = "
ERROR: No relay board has the ID \"QLAB2\"!" ] && [ "$a_sets" = 0 ] && [ "$b_sets" = 0 ]
  check $? "ID=QLAB2, given away: no board has it, status 2, nothing switched"
}

board_commands_lab() {
  a_log=/tmp/ids-uhid.log
  a_state=/tmp/ids-uhid.state
  b_log=/tmp/ids-usb.log
  b_state=/tmp/ids-usb.state
  plug "$uhid_board" USBRelay2 2 QLAB1 "$a_log" "state=$a_state" || return
  a_pid=$board
  next_usb_port
  if plug "$usb_board" QLAB2 "$b_log" "port=$usb_port" "state=$b_state"; then
    b_pid=$board
    a=$(board_commands_node /uhid/)
    b=$(board_commands_node /vhci_hcd)
    # Boards are numbered in the order of their nodes: the uhid board came first.
    [ -n "$a" ] && [ -n "$b" ] && [ "${a#/dev/hidraw}" -lt "${b#/dev/hidraw}" ]
    check $? "uhid board at $a, USB board at $b, in that order"
    board_commands_checks
    kill "$b_pid" 2>/dev/null
    wait "$b_pid" 2>/dev/null
  fi
  board=$a_pid
  unplug
}
