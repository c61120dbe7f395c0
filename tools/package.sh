#!/usr/bin/env bash
# Builds the Debian package of the programs into build/package/ and prints its path. Install it
# with  sudo apt install ./build/package/qubix24_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
# Besides the build's: dpkg-shlibdeps for the dependencies, file to find the programs among the
# installed files.
bash tools/deps.sh dpkg-dev file
bash tools/build.sh
rm -rf build/package
cpack -G DEB --config build/CPackConfig.cmake -B build/package >/dev/null
ls build/package/qubix24_*.deb
