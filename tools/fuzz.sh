#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer into build-fuzz and runs each for SECONDS
# (default 60) from its seed corpus in fuzz/corpus/. New inputs go to build-fuzz/corpus/ (the
# committed seeds stay as they are); a crasher is saved as a seed beside the others, so that the
# tests replay it from then on, and is shown in hex here. Runs two targets at a time (one per
# core; QUBIX_FUZZ_JOBS changes that). Prints executions per second per target; exits 1 when any
# target crashed.
#   tools/fuzz.sh [SECONDS] [TARGET...]    targets: maclist hwpresetlist eqfile vup hfp jpeg avi
#                                                   bus_replies sim_frames trace http_request
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(maclist hwpresetlist eqfile vup hfp jpeg avi bus_replies sim_frames trace
                                   http_request)

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DQUBIX_FUZZ=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j2 --target "${targets[@]/#/fuzz_}"

# The targets that read files write them into a scratch folder: in memory where there is one.
[ -d /dev/shm ] && [ -w /dev/shm ] && export TMPDIR=/dev/shm
export ASAN_OPTIONS="detect_leaks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# One target; its exit status goes to build-fuzz/fuzz_TARGET.status.
fuzz_one() {
  local t=$1 status=0
  mkdir -p "build-fuzz/corpus/$t"
  build-fuzz/fuzz/fuzz_"$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="fuzz/corpus/$t/" "build-fuzz/corpus/$t" \
    "fuzz/corpus/$t" >"build-fuzz/fuzz_$t.log" 2>&1 || status=$?
  echo $status >"build-fuzz/fuzz_$t.status"
}
for t in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "${QUBIX_FUZZ_JOBS:-2}" ]; do wait -n || true; done
  fuzz_one "$t" &
done
wait

failed=()
printf '%-14s %12s %10s\n' target executions exec/s
for t in "${targets[@]}"; do
  log="build-fuzz/fuzz_$t.log"
  status=$(cat "build-fuzz/fuzz_$t.status")
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  printf '%-14s %12s %10s\n' "$t" "${runs:-?}" "${rate:-?}"
  if [ $status -ne 0 ]; then
    failed+=("$t")
    grep -E "ERROR|runtime error|broken:|SUMMARY" "$log" | head -5 || true
    for crash in $(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log"); do
      echo "crasher $crash:"
      head -c 4096 "$crash" | od -An -tx1 | head -64
    done
  fi
done
echo "fuzz: $((${#targets[@]} - ${#failed[@]})) passed, ${#failed[@]} failed"
if [ ${#failed[@]} -gt 0 ]; then
  echo "crashed: ${failed[*]} (logs in build-fuzz/)"
  exit 1
fi
