#!/usr/bin/env bash
# Fails when a module that programs load with dlopen has thread-local storage of its own.
# Debian 12's AddressSanitizer misreads dynamically allocated TLS blocks in its leak check
# when one lands at certain heap addresses, and the test process then dies after passing.
# Outside the sanitizer builds the real modules carry a private copy of the C++ library
# (cmake/Platform.cmake), whose exception state per thread is the one TLS variable allowed;
# the sanitizer builds link the shared library and so have none at all.
set -euo pipefail
readonly allowed='_ZZN12_GLOBAL__N_110get_globalEvE6global'  # the C++ library's eh globals
status=0
for module in "$@"; do
  readelf --program-headers --wide "$module" | grep -q '^ *TLS ' || continue
  # Every TLS symbol, the section-symbol entries aside; no symbol table counts as unknown.
  tls=$(readelf --syms --wide "$module" | awk '$4 == "TLS" && $8 != "" { print $8 }')
  own=$(grep -v -x -F "$allowed" <<<"$tls" | sort -u || true)
  if [[ -n $own || -z $tls ]]; then
    echo "$module has thread-local storage: ${own:-(no symbol names it)}"
    status=1
  fi
done
((status == 0)) && echo "no thread-local storage of the modules' own in: $*"
exit "$status"
