#!/usr/bin/env bash
# Builds the Debian package of the programs into build/package/ and prints its path. Install it
# with  sudo apt install ./build/package/qubix24_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
# What the package step itself needs: dpkg-shlibdeps for the dependencies, file to find the
# programs among the installed files.
pkgs=(dpkg-dev file)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
bash tools/build.sh
rm -rf build/package
cpack -G DEB --config build/CPackConfig.cmake -B build/package >/dev/null
ls build/package/qubix24_*.deb
