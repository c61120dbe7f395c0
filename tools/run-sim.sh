#!/usr/bin/env bash
# Installs what is missing, builds, and starts qubix24 on the built-in simulated bus in a scratch
# data directory (filled from data/ on first start, so the shipped data stays as it is).
# Arguments go to qubix24.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
bash tools/build.sh
scratch="${QUBIX_DATA_DIR:-$HOME/.local/share/qubix24-sim}"
exec build/src/app/qubix24 --simulator --data-dir "$scratch" "$@"
