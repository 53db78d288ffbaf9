#!/bin/bash
# Keeps the layers of the library apart: no transport or base file includes a
# worker's header (sdmapi/core), no base file includes a transport, API or
# failover header, and a port's road is tested by one is_sysfs_port. Given
# the library's object files, it also checks the symbols, which catches a
# call past the headers: no transport or base object needs a symbol that a
# worker object defines, and no base object one that a transport, API or
# failover object defines.
# Usage: check_layers.sh SOURCE_DIR [OBJECT...]
set -euo pipefail
export LC_ALL=C
src="$1/sdmapi"
shift
status=0

report() {
  echo "$1"
  echo "$2"
  status=1
}

bad=$(cd "$src" && grep -rnE '^\s*#\s*include\s+"core/' transport base || true)
[ -z "$bad" ] || report "a transport or base file includes a worker header:" "$bad"

bad=$(cd "$src" && grep -rnE '^\s*#\s*include\s+"(transport|api|failover)/' base || true)
[ -z "$bad" ] || report "a base file includes a transport, API or failover header:" "$bad"

defs=$(cd "$src" && grep -rnE '^\s*(\[\[nodiscard\]\]\s*)?((static|inline)\s+)*bool\s+\w*is_sysfs_port\s*\(' . | grep -v ';\s*$' || true)
count=$(printf '%s' "$defs" | grep -c . || true)
[ "$count" -eq 1 ] || report "is_sysfs_port is defined $count times, not once:" "$defs"

# The strong definitions of the objects of some layers, and the undefined
# symbols of the objects of others, as "symbol object" lines.
defined_in() {
  local pattern="$1" o
  for o in "${objects[@]}"; do
    if [[ "$o" =~ $pattern ]]; then nm -P --defined-only "$o" | awk '$2 ~ /^[TDBR]$/ {print $1}'; fi
  done | sort -u
}
needed_by() {
  local pattern="$1" o
  for o in "${objects[@]}"; do
    if [[ "$o" =~ $pattern ]]; then nm -P -u "$o" | awk -v o="${o##*/sdmapi/}" '{print $1, o}'; fi
  done | sort -k1,1
}

objects=("$@")
if [ ${#objects[@]} -gt 0 ]; then
  bad=$(join <(defined_in '/sdmapi/core/') <(needed_by '/sdmapi/(transport|base)/') || true)
  [ -z "$bad" ] || report "a transport or base object calls a worker (symbol, object):" "$bad"
  bad=$(join <(defined_in '/sdmapi/(transport|api|failover)/') <(needed_by '/sdmapi/base/') || true)
  [ -z "$bad" ] || report "a base object calls a transport, API or failover function (symbol, object):" "$bad"
fi
exit $status
