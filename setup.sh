#!/usr/bin/env bash
# Installs what is missing (Debian packages) and builds the library, the
# simulator and the tests into build/ (with AddressSanitizer and
# UndefinedBehaviorSanitizer, as CI runs them).
set -euo pipefail
cd "$(dirname "$0")"

packages=(cmake make g++ libsysfs-dev libgtest-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -q
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=Debug -DVXSDM_SANITIZE=ON
cmake --build build -j"$(nproc)"
