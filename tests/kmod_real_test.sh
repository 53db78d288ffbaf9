#!/bin/bash
# The options lines that the library writes, and files edited by hand that
# it set a parameter in, read back by the real kmod:
# for each case that the files program makes, "modprobe -C <folder>
# --showconfig" must give exactly the expected lines for the driver modules,
# and say nothing about the file.
# Usage: kmod_real_test.sh FILES_PROGRAM. Exit 77 (skipped) without modprobe.
set -euo pipefail
program=$1
# The status that ctest reads as "skipped".
skip=77
modprobe=$(command -v modprobe || true)
for dir in /usr/sbin /sbin; do [ -n "$modprobe" ] || [ ! -x "$dir/modprobe" ] || modprobe=$dir/modprobe; done
if [ -z "$modprobe" ]; then
  echo "SKIPPED: modprobe is not installed (package kmod); the options files were not read back"
  exit $skip
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
VXSDM_CONFIG_OUT=$tmp/out "$program" --gtest_filter='RealToolsFiles.ModuleParameter:RealToolsFiles.HbaFeatures:RealToolsFiles.FailoverStores:RealToolsFiles.HandEditedOptions' \
  >"$tmp/program.log" 2>&1 || { cat "$tmp/program.log"; exit 1; }

status=0
count=0
for expected in "$tmp"/out/modprobe/*.expected; do
  name=$(basename "$expected" .expected)
  folder=$tmp/out/modprobe/$name
  "$modprobe" -C "$folder" --showconfig >"$tmp/config" 2>"$tmp/errors" || {
    echo "$name: modprobe failed"; cat "$tmp/errors"; status=1; continue; }
  grep -E '^options vxa2[0-9a-z]* ' "$tmp/config" >"$tmp/got" || true
  if ! diff -u "$expected" "$tmp/got"; then
    echo "$name: modprobe read other options from:"; cat "$folder"/*; status=1
  fi
  if grep -F "$folder" "$tmp/errors"; then
    echo "$name: modprobe complained about the file"; status=1
  fi
  count=$((count + 1))
done
[ "$count" -gt 0 ] || { echo "no options files were made"; exit 1; }
echo "$count options files read back through $modprobe"
exit $status
