#!/bin/bash
# Installs the build into a temporary prefix, checks what was installed,
# builds the example against the installed tree through pkg-config and
# through find_package(vxsdm), and runs both.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR (CC and CFLAGS from the environment)
set -euo pipefail
build=$1 source=$2
: "${CC:=cc}" "${CFLAGS:=}"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
cmake --install "$build" --prefix "$prefix" >"$tmp/install.log"

# The library with its soname links, the headers, vxsdm.pc and the CMake
# package; nothing else.
pc=$(find "$prefix" -name vxsdm.pc)
libdir=$(dirname "$(dirname "$pc")")
lib=${libdir#"$prefix"/}
installed=$(cd "$prefix" && find . ! -type d | sed 's|^\./||' | sort)
soname=$(readelf -d "$libdir/libvxsdm.so" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
status=0
for f in $(cd "$source/include" && ls -- *.h | sed 's|^|include/vxsdm/|') "$lib/libvxsdm.so" "$lib/$soname" \
    "$lib/pkgconfig/vxsdm.pc" "$lib/cmake/vxsdm/"vxsdm{Config,ConfigVersion,Targets}.cmake; do
  grep -qx "$f" <<<"$installed" || { echo "not installed: $f"; status=1; }
done
[[ $soname =~ ^libvxsdm\.so\.[0-9]+$ ]] || { echo "soname: $soname"; status=1; }
grep -vxE "include/vxsdm/[a-z_]+\.h|$lib/libvxsdm\.so(\.[0-9]+)*|$lib/pkgconfig/vxsdm\.pc|$lib/cmake/vxsdm/vxsdm(Config|ConfigVersion|Targets|Targets-[a-z]+)\.cmake" \
  <<<"$installed" && { echo "installed besides"; status=1; }
[ "$status" = 0 ] || exit 1

run() {
  echo "== $1"
  LD_LIBRARY_PATH=$libdir "$1" | tee "$tmp/out"
  grep -q '^libvxsdm v6\.04 build2 (0x06040200)$' "$tmp/out"
}

# pkg-config; the headers are found as <vxsdm.h> and as <vxsdm/vxsdm.h>.
export PKG_CONFIG_PATH=$libdir/pkgconfig
# shellcheck disable=SC2046,SC2086
"$CC" -std=c99 $CFLAGS -o "$tmp/inventory-pc" "$source/examples/vxsdm_inventory.c" $(pkg-config --cflags --libs vxsdm)
# shellcheck disable=SC2046,SC2086
echo '#include <vxsdm/vxsdm.h>' | "$CC" -std=c99 $CFLAGS -fsyntax-only $(pkg-config --cflags vxsdm) -x c -
run "$tmp/inventory-pc"

# find_package, through the example's own CMake project.
cmake -S "$source/examples" -B "$tmp/example" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_COMPILER="$CC" >/dev/null
cmake --build "$tmp/example" >/dev/null
run "$tmp/example/vxsdm_inventory"
