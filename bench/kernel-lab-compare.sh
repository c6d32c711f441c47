#!/usr/bin/env bash
# The tool against Debian's usbrelay (hidapi on hidraw) in the kernel lab's guest: whole-process
# time of the listing, one relay and all eight, N runs each, with the board on uhid and then on
# the real USB HID driver through USB/IP, and the hidraw opens of each call counted by ftrace.
# Boots the lab (tests/linux/kernel-lab/run.sh --with-tool, its checks included, a short soak)
# with QUORVEL_LAB_BENCH=N and puts its lines in a table. Needs what the lab needs and the
# usbrelay package on the host (the lab copies it into the guest with its libraries).
#   bash bench/kernel-lab-compare.sh [BUILD_DIR] [N]      (build/default, 20)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-build/default}
runs=${2:-20}
[[ $build = /* ]] || build=$root/$build
if ! [[ $runs =~ ^[1-9][0-9]*$ ]]; then
  echo "kernel-lab-compare.sh: N must be a positive number of runs, not '$runs'" >&2
  exit 1
fi
if ! command -v usbrelay >/dev/null; then
  echo "kernel-lab-compare.sh: usbrelay is not installed (apt-get install usbrelay)" >&2
  exit 1
fi
[[ -x $build/bin/quorvel ]] || { echo "kernel-lab-compare.sh: no $build/bin/quorvel" >&2; exit 1; }

log=$build/kernel-lab/compare.log
mkdir -p "$build/kernel-lab"
# The guest runs the tool as installed, from a staged install of this build.
stage=$build/kernel-lab/compare-stage/usr
rm -rf "$build/kernel-lab/compare-stage"
cmake --install "$build" --prefix "$stage" >/dev/null
status=0
QUORVEL_LAB_BENCH=$runs QUORVEL_LAB_SOAK=${QUORVEL_LAB_SOAK:-10} \
  QUORVEL_LAB_TIMEOUT=${QUORVEL_LAB_TIMEOUT:-1200} \
  bash "$root/tests/linux/kernel-lab/run.sh" "$build/bin" "$build/kernel-lab" --with-tool \
  "$stage" >"$log" 2>&1 || status=$?
if ((status == 77)); then
  cat "$log"
  exit 77
fi
((status == 0)) || echo "note: a check of the lab failed (exit $status); see $log" >&2
grep '^# peer: [^Q]' "$log" >&2 || true

# "opens LABEL PROGRAM ARGS: hidraw_open H, ..." and "time LABEL PROGRAM ARGS: T ms per run";
# LABEL is the transport, with "-fixed" when address-space randomisation was off.
awk -v runs="$runs" '
  function call(args) {
    if (args == "") return "listing"
    if (args == "ON=1" || args == "QOPEN_1=1") return "one relay"
    if (args == "N=0x5A" || args ~ /^QOPEN_1=0 QOPEN_2=1/) return "all eight"
    return ""
  }
  /^(opens|time) (uhid|usbip)(-fixed)? \/(usr\/bin\/quorvel|opt\/peer\/usbrelay)/ {
    kind = $1; label = $2; program = ($3 ~ /usbrelay/) ? "peer" : "tool"
    head = $0; sub(/: .*/, "", head)
    n = split(head, words, " "); args = ""
    for (i = 4; i <= n; i++) args = args (args == "" ? "" : " ") words[i]
    c = call(args)
    if (c == "") next
    if (kind == "opens") {
      match($0, /hidraw_open [0-9]+/)
      opens[c, label, program] = substr($0, RSTART + 12, RLENGTH - 12)
    } else {
      match($0, /: [0-9]+ ms/)
      ms[c, label, program] = substr($0, RSTART + 2, RLENGTH - 5)
    }
  }
  function cell(c, label,   q, p) {
    q = ms[c, label, "tool"]; p = ms[c, label, "peer"]
    if (q == "" || p == "" || p == 0) return sprintf("%-21s", q " / " p)
    return sprintf("%4s / %-4s (%.2fx)", q, p, q / p)
  }
  function table(suffix, title,   i, c) {
    printf "\n%s\n", title
    printf "| call | opens: quorvel / usbrelay | uhid ms: quorvel / usbrelay | USB/IP ms: quorvel / usbrelay |\n"
    printf "|---|---|---|---|\n"
    for (i = 1; i <= 3; i++) {
      c = calls[i]
      printf "| %-9s | %s / %s | %s | %s |\n", c, opens[c, "usbip", "tool"],
        opens[c, "usbip", "peer"], cell(c, "uhid" suffix), cell(c, "usbip" suffix)
    }
  }
  END {
    split("listing,one relay,all eight", calls, ",")
    printf "%d runs a call, interleaved with the peer'"'"'s; whole-process ms per run\n", runs
    table("", "address-space randomisation on (as a user has it):")
    table("-fixed", "address-space randomisation off (qemu reuses its translations):")
    for (key in opens) {
      split(key, part, SUBSEP)
      other = part[2] == "uhid" ? "usbip" : "uhid"
      if ((part[1], other, part[3]) in opens && opens[key] != opens[part[1], other, part[3]])
        printf "note: %s of %s opens differently on uhid and USB/IP\n", part[1], part[3]
    }
  }' "$log"
exit "$status"
