#!/bin/bash
# The udev rules that the library writes, read by the real udev: "udevadm
# test" runs in a private mount namespace in which the rules folder is the
# test's own, the system's rules folders are empty and /dev and /run are
# fresh tmpfs, so nothing of the host changes.
#  1. The rules file as written: udev reads it and has nothing to say about it.
#  2. The same file with each rule's match keys replaced by the test device's
#     kernel name: udev reads it without complaint and makes exactly the links
#     that were set ("%n" being the device's kernel number).
#  3. Hand-edited lines of a LUN before and after a set or delete, made to
#     match the test device (its kernel name for the whole-disk pattern, the
#     LUN's serial and vendor given to it by an earlier rule): udev makes the
#     same links after as before, plus those set or minus those deleted (the
#     links of the other lines of the file among them). A refused change
#     ("!": a line that udev skips, or a file it does not read whole): the
#     rules stay, and udev makes exactly the links the get answers (none for
#     a line it skips). Every name that the get answers after the change is a
#     link udev makes.
# Usage: udev_real_test.sh FILES_PROGRAM. Exit 77 (skipped) where udevadm,
# private mount namespaces or a block device are missing.
set -euo pipefail
program=$1
# The status that ctest reads as "skipped".
skip=77
rules_name=99-DU-DUV.rules
skipped() { echo "SKIPPED: $1; the udev rules were not read back"; exit $skip; }

udevadm=$(command -v udevadm || true)
for dir in /usr/bin /bin /sbin /usr/sbin; do [ -n "$udevadm" ] || [ ! -x "$dir/udevadm" ] || udevadm=$dir/udevadm; done
[ -n "$udevadm" ] || skipped "udevadm is not installed (package udev)"
[ -d /etc/udev/rules.d ] || skipped "/etc/udev/rules.d does not exist"
unshare=(unshare --mount --propagation private)
"${unshare[@]}" true 2>/dev/null || { unshare=(unshare --map-root-user --mount --propagation private);
  "${unshare[@]}" true 2>/dev/null || skipped "private mount namespaces are not allowed here"; }
device=/sys/class/block/loop0
[ -e "$device" ] || device=$(find /sys/class/block -mindepth 1 -maxdepth 1 | sort | head -n 1)
[ -n "$device" ] || skipped "no block device to test the rules on"
kernel=$(basename "$device")
number=$(sed -E 's/^.*[^0-9]([0-9]*)$/\1/' <<<"$kernel")

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
VXSDM_CONFIG_OUT=$tmp/out "$program" --gtest_filter='RealToolsFiles.Udev*' >"$tmp/program.log" 2>&1 ||
  { cat "$tmp/program.log"; exit 1; }
written=$tmp/out/udev/$rules_name
mkdir "$tmp/written" "$tmp/matched" "$tmp/empty"
cp "$written" "$tmp/written/"
sed -E 's/^KERNEL=="sd\*\[!?0-9\]".*(SYMLINK\+=)/KERNEL=="'"$kernel"'", \1/' "$written" >"$tmp/matched/$rules_name"

# udevadm test with only the rules of the folder, in a namespace of its own.
# shellcheck disable=SC2016
isolated='set -e
rules=$1 device=$2 empty=$3 udevadm=$4
mount -n -t tmpfs tmpfs /run
mount -n --bind "$rules" /etc/udev/rules.d
for d in /usr/lib/udev/rules.d /lib/udev/rules.d; do [ ! -d "$d" ] || mount -n --bind "$empty" "$d"; done
mount -n -t tmpfs tmpfs /dev
"$udevadm" test --action=add "$device" 2>&1'
udev_test() { "${unshare[@]}" bash -c "$isolated" isolated "$1" "$device" "$tmp/empty" "$udevadm"; }

status=0
fail() { echo "FAILED: $1"; status=1; }
# The lines that name the rules file, but for its reading.
about_file() { grep -F "$rules_name" "$1" | grep -v "^Reading rules file: .*/$rules_name\$" || true; }

udev_test "$tmp/written" >"$tmp/written.log" || { cat "$tmp/written.log"; fail "udevadm test on the rules as written"; }
grep -q "^Reading rules file: /etc/udev/rules.d/$rules_name\$" "$tmp/written.log" ||
  fail "udev did not read the rules file"
if [ -n "$(about_file "$tmp/written.log")" ]; then
  about_file "$tmp/written.log"
  fail "udev complained about the rules as written"
fi

udev_test "$tmp/matched" >"$tmp/matched.log" || { cat "$tmp/matched.log"; fail "udevadm test on the matching rules"; }
about_file "$tmp/matched.log" | grep -vE "^$kernel: /etc/udev/rules.d/$rules_name:[0-9]+ LINK '[^']*'\$" &&
  fail "udev complained about the matching rules"
sed -n 's/^DEVLINKS=//p' "$tmp/matched.log" | tr ' ' '\n' | sed -n 's|^/dev/||p' | sort -u >"$tmp/links"
sed "s/%n/$number/" "$tmp/out/udev/links" | sort -u >"$tmp/expected"
diff -u "$tmp/expected" "$tmp/links" || fail "udev made other links than the names set"

# The links udev makes of a rules file of a row, made to match the device.
row_links() {
  local dir=$tmp/row
  rm -rf "$dir"; mkdir "$dir"
  echo 'ENV{ID_SERIAL}="600a0b80001", ENV{VX_VENDOR}="0x7a5a"' >"$dir/00-device.rules"
  sed -e 's/"sd\*\[!0-9\]"/"'"$kernel"'"/g' -e 's/ATTRS{vendor}=="0x7a5a"/ENV{VX_VENDOR}=="0x7a5a"/g' "$1" >"$dir/$rules_name"
  udev_test "$dir" >"$2.log" || { cat "$2.log"; fail "udevadm test on $1"; }
  sed -n 's/^DEVLINKS=//p' "$2.log" | tr ' ' '\n' | sed -n 's|^/dev/||p' | sort -u >"$2"
}
rows=0
for row in "$tmp"/out/udev/rows/*/; do
  [ -f "$row/change" ] || continue
  rows=$((rows + 1))
  row_links "$row/before.rules" "$tmp/before"
  row_links "$row/after.rules" "$tmp/after"
  read -r sign names <"$row/change"
  tr ' ' '\n' <<<"$names" | sort -u >"$tmp/named"
  tr ' ' '\n' <"$row/got" | sed '/^$/d' | sort -u >"$tmp/got"
  case $sign in
    +) sort -u "$tmp/before" "$tmp/named" ;;
    -) comm -23 "$tmp/before" "$tmp/named" ;;
    *) cmp -s "$row/before.rules" "$row/after.rules" || fail "the refused change of $row changed the rules"
       cat "$tmp/got" ;;
  esac >"$tmp/expected"
  [ "$sign" = ! ] || [ -s "$tmp/before" ] || [ -s "$tmp/after" ] ||
    fail "udev made no link of $row: the rules did not match the device"
  diff -u "$tmp/expected" "$tmp/after" ||
    { fail "udev made other links after the change of $row"; cat "$row/before.rules" "$row/after.rules"; }
  [ -z "$(comm -23 "$tmp/got" "$tmp/after")" ] ||
    fail "the get answers names of $row that udev makes no link of: $(comm -23 "$tmp/got" "$tmp/after" | tr '\n' ' ')"
done

if [ "$status" != 0 ]; then
  echo "== the rules file as written"; cat "$written"
  echo "== udevadm test of the matching rules"; cat "$tmp/matched.log"
  exit 1
fi
echo "udev ($udevadm) read the rules file on $kernel: $(wc -l <"$tmp/links") links as set; $rows hand-edited rows"
