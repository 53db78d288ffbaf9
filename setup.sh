#!/usr/bin/env bash
# Sets up this checkout on Debian; installs the packages that are missing.
#   ./setup.sh         builds the library as users use it (Release, no
#                      sanitizers) with the example into build-release/ and
#                      runs the example on this host.
#   ./setup.sh --test  builds the library, the simulator and the tests with
#                      AddressSanitizer and UndefinedBehaviorSanitizer into
#                      build/ and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")"

case "${1:-}" in
  "" | --test) ;;
  *) echo "usage: $0 [--test]" >&2; exit 2 ;;
esac

packages=(cmake make g++ libsysfs-dev libgtest-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
command -v pkg-config >/dev/null || missing+=(pkgconf)
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -q
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

jobs="$(nproc)"
# Warnings stop the build only when VXSDM_WERROR=ON is in the environment (CI).
werror="-DVXSDM_WERROR=${VXSDM_WERROR:-OFF}"
if [ "${1:-}" = --test ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Debug -DVXSDM_SANITIZE=ON "$werror"
  cmake --build build -j"$jobs"
  ctest --test-dir build --output-on-failure -j"$jobs"
else
  # -O2 with fortified string functions, as distributions build it.
  optimised="-O2 -DNDEBUG -D_FORTIFY_SOURCE=2"
  cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DVXSDM_SANITIZE=OFF -DVXSDM_TESTS=OFF "$werror" \
    -DCMAKE_C_FLAGS_RELEASE="$optimised" -DCMAKE_CXX_FLAGS_RELEASE="$optimised"
  cmake --build build-release -j"$jobs"
  build-release/examples/vxsdm_inventory
fi
