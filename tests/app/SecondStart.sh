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
# The first takes the folder after naming it, and listens once its window is made; until then a
# second start finds only the lock. The second's own time limit ends it should it ever be first.
tries=0
while [ $tries -lt 100 ] && ! grep -q "Data directory" "$dir/first.txt"; do
  tries=$((tries + 1))
  sleep 0.1
done
tries=0
while [ $tries -lt 50 ]; do
  "$prog" --link sim:virtual --data-dir "$dir/data" --quit-after-ms 10000 >"$dir/second.txt" 2>&1
  code=$?
  if grep -q "already running on .*data; its window was raised" "$dir/second.txt"; then
    status=$code
    break
  fi
  grep -q "is in use by" "$dir/second.txt" || break
  tries=$((tries + 1))
  sleep 0.2
done
cat "$dir/second.txt"
if [ $status -eq 0 ]; then
  kill -0 "$first" 2>/dev/null || { echo "the first program ended"; status=1; }
fi
kill "$first" 2>/dev/null
wait "$first" 2>/dev/null
exit $status
