#!/usr/bin/env bash
# Builds the Debian package of the programs into build/package/ and prints its path. Install it
# with  sudo apt install ./build/package/qubix24_*.deb
# The programs are built apart from the development build, in build/deb, without tests and
# benchmarks, and with Debian's hardening flags as dpkg-buildflags gives them (fortified
# functions, stack protector, read-only relocations bound at start, position-independent code).
set -euo pipefail
cd "$(dirname "$0")/.."
# Besides the build's: dpkg-buildflags and dpkg-shlibdeps, and file to find the programs among
# the installed files.
bash tools/deps.sh dpkg-dev file
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cppflags=$(dpkg-buildflags --get CPPFLAGS)
cmake -S . -B build/deb -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUBIX_BUILD_TESTS=OFF -DQUBIX_BUILD_BENCH=OFF -DQUBIX_WERROR=OFF \
  -DCMAKE_POSITION_INDEPENDENT_CODE=ON \
  -DCMAKE_C_FLAGS="$cppflags $(dpkg-buildflags --get CFLAGS)" \
  -DCMAKE_CXX_FLAGS="$cppflags $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  -DCMAKE_SHARED_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build build/deb -j2 >&2
rm -rf build/package
cpack -G DEB --config build/deb/CPackConfig.cmake -B build/package >/dev/null
ls build/package/qubix24_*.deb
