#!/usr/bin/env bash
# Installs what is missing, builds, and starts qubix24 on the built-in simulated bus in a scratch
# data directory (filled from data/ on first start, so the shipped data stays as it is).
# Arguments go to qubix24.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
bash tools/build.sh
scratch="${QUBIX_DATA_DIR:-$HOME/.local/share/qubix24-sim}"
mkdir -p "$scratch"
# The first start lists the three simulated processors, as a scan of the whole bus would find
# them: ten 13-character identifiers (unused ones zero) and a 16-bit count, low byte first.
if [ ! -e "$scratch/maclist.dat" ]; then
  {
    printf '%s' H000000010001 H000000010002 H000000010005
    head -c $((130 - 3 * 13)) /dev/zero
    printf '\003\000'
  } > "$scratch/maclist.dat"
fi
exec build/src/app/qubix24 --simulator --data-dir "$scratch" "$@"
