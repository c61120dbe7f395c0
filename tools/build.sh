#!/usr/bin/env bash
# Configures and builds into ./build (parallel -j2). Extra arguments go to cmake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
werror=${QUBIX_WERROR:-ON}  # QUBIX_WERROR=OFF bash tools/build.sh to let warnings pass
cmake -S . -B build -G Ninja -DQUBIX_WERROR=$werror "$@" >/dev/null
cmake --build build -j2
