#!/bin/bash
# Add wrk nginx-light with tools/deps.sh if they are missing.
# qubix24d beside nginx on loopback (Debian's wrk and nginx-light):
# p50/p99 and rate of GET of one machine and of PATCH at 1, 16 and 64 connections from one
# address, the service's memory after, then paced PATCHes from one address per client
# (service_patch.py). Run from the checkout after a build: bash bench/service_load.sh
set -u
D=$(mktemp -d); mkdir -p $D/data $D/www
QUBIX24D=${1:-build/src/service/qubix24d}
$QUBIX24D --bus main=sim:virtual --data-dir $D/data --listen 127.0.0.1:18424 > $D/d.out 2> $D/d.err &
PID=$!
for i in $(seq 50); do curl -s -o /dev/null http://127.0.0.1:18424/api/v1/buses && break; sleep 0.1; done
curl -s -X POST http://127.0.0.1:18424/api/v1/buses/main/refresh -o /dev/null
curl -s http://127.0.0.1:18424/api/v1/buses/main/machines/1 -o $D/www/machine.json
echo "GET body: $(wc -c < $D/www/machine.json) bytes"
cat > $D/nginx.conf <<NG
worker_processes 1; pid $D/nginx.pid; error_log $D/nginx.err; daemon on;
events { worker_connections 1024; }
http { access_log off; server { listen 127.0.0.1:18425; root $D/www; default_type application/json; } }
NG
nginx -c $D/nginx.conf
cat > $D/patch.lua <<'L'
wrk.method = "PATCH"
wrk.headers["Content-Type"] = "application/json"
local n = 0
request = function()
  n = n + 1
  return wrk.format(nil, nil, nil, '{"bands":[{"band":4,"gain":' .. (n % 24 - 12) / 2 .. '}]}')
end
L
for c in 1 16 64; do
  t=$([ $c -lt 2 ] && echo 1 || echo 2)
  echo "== GET qubix24d c=$c"; wrk -t$t -c$c -d8s --latency http://127.0.0.1:18424/api/v1/buses/main/machines/1 | grep -E "^ +(50|99)%|Requests/sec|Non-2xx"
  echo "== GET nginx c=$c"; wrk -t$t -c$c -d8s --latency http://127.0.0.1:18425/machine.json | grep -E "^ +(50|99)%|Requests/sec|Non-2xx"
  echo "== PATCH qubix24d c=$c"; wrk -t$t -c$c -d8s --latency -s $D/patch.lua http://127.0.0.1:18424/api/v1/buses/main/machines/1 | grep -E "^ +(50|99)%|Requests/sec|Non-2xx"
done
echo "RSS KiB: $(grep VmRSS /proc/$PID/status)"
kill $PID; wait $PID; echo "service exit $?"
nginx -c $D/nginx.conf -s stop
# Accepted changes, each client from its own loopback address under the per-address rate.
$QUBIX24D --bus main=sim:virtual --data-dir $D/data2 --listen 127.0.0.1:18424 >/dev/null 2>&1 &
PID=$!
for i in $(seq 50); do curl -s -o /dev/null http://127.0.0.1:18424/api/v1/buses && break; sleep 0.1; done
curl -s -X POST http://127.0.0.1:18424/api/v1/buses/main/refresh -o /dev/null
python3 "$(dirname "$0")/service_patch.py"
echo "RSS KiB after: $(grep VmRSS /proc/$PID/status)"
kill $PID; wait $PID
rm -rf "$D"
