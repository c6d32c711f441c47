#!/bin/bash
# The installed udev rule is the one the documents show, and it opens relay boards only:
# vendor 16c0, product 05df, a product string beginning with "USBRelay", for the local
# user (uaccess) and group plugdev.
#   udev-rule-test.sh RULES-FILE DOCUMENT...
set -uo pipefail
rules=${1:?}
shift
failed=0
rule=$(grep -v '^#' "$rules" | grep -v '^$')
if [[ $(wc -l <<<"$rule") != 1 ]]; then
  echo "$rules holds more than one rule"
  failed=1
fi
for part in 'SUBSYSTEM=="hidraw"' 'ATTRS{idVendor}=="16c0"' 'ATTRS{idProduct}=="05df"' \
  'ATTRS{product}=="USBRelay*"' 'GROUP="plugdev"' 'TAG+="uaccess"' 'MODE="0660"'; do
  [[ ", $rule, " == *", $part, "* ]] || { echo "the rule lacks $part"; failed=1; }
done
for document in "$@"; do
  shown=$(grep '^SUBSYSTEM=="hidraw"' "$document")
  if [[ $shown != "$rule" ]]; then
    echo "$document shows another rule: $shown"
    failed=1
  fi
  grep -q '70-quorvel.rules' "$document" || { echo "$document does not name the file"; failed=1; }
done
((failed == 0)) && echo "one rule, the same in $*"
exit $failed
