#!/bin/sh
# A second start on a data directory the program holds raises the running window and exits 0;
# the first keeps running. Usage: SecondStart.sh QUBIX24 SCRATCH_DIR
prog=$1
dir=$2
rm -rf "$dir"
mkdir -p "$dir/data"
export QT_QPA_PLATFORM=offscreen
"$prog" --link sim:virtual --data-dir "$dir/data" --quit-after-ms 60000 >"$dir/first.txt" 2>&1 &
first=$!
status=1
# The first listens once its window is made; until then a second start finds only the lock.
tries=0
while [ $tries -lt 100 ]; do
  if "$prog" --link sim:virtual --data-dir "$dir/data" >"$dir/second.txt" 2>&1; then
    status=0
    break
  fi
  grep -q "is in use by" "$dir/second.txt" || break
  tries=$((tries + 1))
  sleep 0.2
done
cat "$dir/second.txt"
if [ $status -eq 0 ]; then
  grep -q "already running on .*data; its window was raised" "$dir/second.txt" || status=1
  kill -0 "$first" 2>/dev/null || { echo "the first program ended"; status=1; }
fi
kill "$first" 2>/dev/null
wait "$first" 2>/dev/null
exit $status
