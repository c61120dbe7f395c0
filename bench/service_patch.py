import http.client, json, statistics, sys, threading, time
# PATCH latency of accepted changes: each client from its own loopback address, paced under
# the per-address rate (20 a second), 5 s each.
def client(i, out):
    conn = http.client.HTTPConnection("127.0.0.1", 18424, source_address=(f"127.0.{1 + i // 250}.{2 + i % 250}", 0))
    t_end = time.monotonic() + 5
    n = 0
    while time.monotonic() < t_end:
        body = json.dumps({"bands": [{"band": 4, "gain": (n % 24 - 12) / 2}]})
        t0 = time.monotonic()
        conn.request("PATCH", "/api/v1/buses/main/machines/1", body, {"Content-Type": "application/json"})
        r = conn.getresponse(); r.read()
        out.append((r.status, time.monotonic() - t0))
        n += 1
        time.sleep(max(0, 0.05 - (time.monotonic() - t0)))
for c in (1, 16, 64):
    out = []
    ts = [threading.Thread(target=client, args=(i, out)) for i in range(c)]
    [t.start() for t in ts]; [t.join() for t in ts]
    ok = sorted(d for s, d in out if s == 200)
    other = {}
    for s, d in out:
        if s != 200: other[s] = other.get(s, 0) + 1
    q = lambda p: ok[min(len(ok) - 1, int(p * len(ok)))] * 1000
    print(f"PATCH c={c}: {len(ok)} answered 200, others {other}, p50 {q(0.5):.2f} ms, p99 {q(0.99):.2f} ms")
