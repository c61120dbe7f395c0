#!/usr/bin/env bash
# Installs what is missing, builds the program alone (the tests and benchmarks are left to
# tools/test.sh), and starts qubix24 on the built-in simulated bus in the simulator's own data
# directory, as the menu's "Try on the Simulated Bus" does ($XDG_DATA_HOME/qubix24-sim), or in
# $QUBIX_DATA_DIR. The program fills that folder from data/ on first start (the shipped data
# stays as it is) and lists the three simulated processors in it, as a scan of the whole bus
# would find them. Arguments go to qubix24.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
cmake -S . -B build -G Ninja -DQUBIX_WERROR="${QUBIX_WERROR:-ON}" >/dev/null
cmake --build build -j2 --target qubix24
where=(--user-data)
[ -n "${QUBIX_DATA_DIR:-}" ] && where=(--data-dir "$QUBIX_DATA_DIR")
exec build/src/app/qubix24 --simulator "${where[@]}" "$@"
