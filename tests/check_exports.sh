#!/bin/bash
# Compares the functions a shared library exports with a list (one name a
# line, sorted or not). Usage: check_exports.sh LIBRARY LIST
set -euo pipefail
actual=$(nm -D --defined-only "$1" | awk '$2 != "A" {print $3}' | sed 's/@.*//' | sort -u)
expected=$( (grep -v '^#' "$2" || true) | sed '/^$/d' | sort -u)
if [ "$actual" != "$expected" ]; then
  echo "exported symbols differ from $2:"
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi
