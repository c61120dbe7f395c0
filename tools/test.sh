#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
#   --quick     builds only what the unit and ui tests run (the core on the virtual clock, the
#               widgets' wiring) and runs those: seconds, for every change.
#   --sanitize  builds with AddressSanitizer and UndefinedBehaviorSanitizer (any finding ends the
#               test that made it) into build-asan, without the benchmarks, and runs the suite.
set -euo pipefail
cd "$(dirname "$0")/.."
sanitize=0
quick=0
for arg in "$@"; do
  case "$arg" in
    --sanitize) sanitize=1 ;;
    --quick) quick=1 ;;
    *) echo "usage: $0 [--quick | --sanitize]" >&2; exit 2 ;;
  esac
done
bash tools/deps.sh
export QT_QPA_PLATFORM=offscreen
if [ $quick -eq 1 ]; then
  cmake -S . -B build -G Ninja -DQUBIX_WERROR="${QUBIX_WERROR:-ON}" >/dev/null
  cmake --build build -j2 --target qubix_quick_tests
  ctest --test-dir build --output-on-failure -j2 -L '^(unit|ui)$'
  exit 0
fi
if [ $sanitize -eq 0 ]; then
  bash tools/build.sh
  # Every test carries a label, so that -L picks the quick ones and CI the rest.
  ctest --test-dir build --show-only=json-v1 | python3 -c '
import json, sys
tests = json.load(sys.stdin)["tests"]
bare = [t["name"] for t in tests
        if not any(p["name"] == "LABELS" for p in t.get("properties", []))]
if bare:
    sys.exit("tests without a label: " + ", ".join(bare))'
  ctest --test-dir build --output-on-failure -j2
  exit 0
fi

# The test programs run at build time too, to list their tests. Leaks are reported. The serial
# test runs itself again with its pseudo-terminal interposer preloaded ahead of the
# sanitizer's runtime; that order is sound (the interposer wraps no allocation), so its check
# is off.
export ASAN_OPTIONS="verify_asan_link_order=0:detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
flags="-O1 -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
werror=OFF; [ "${CI:-}" = "true" ] && werror=ON
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUBIX_WERROR=$werror \
  -DQUBIX_BUILD_BENCH=OFF -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build build-asan -j2
# The integration and browser tests talk to real servers and terminals on the real clock, where an
# instrumented simulator answers too slowly for the bus time-outs; they run in the plain suite.
ctest --test-dir build-asan --output-on-failure -j2 -LE '^(integration|browser)$'

