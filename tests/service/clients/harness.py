"""qubix24d on the simulated bus for the page and OSC tests: started on loopback with a trace,
asked over HTTP, its frames read back from the trace. Every wait is bounded."""

import json
import os
import re
import signal
import subprocess
import tempfile
import time
import urllib.error
import urllib.request

WAIT_S = 20.0


def wait_for(what, check, timeout=WAIT_S, step=0.05):
    """check() until it returns something true; fails with `what` after timeout seconds."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = check()
        if value:
            return value
        time.sleep(step)
    raise AssertionError(f"gave up waiting for {what}")


class Service:
    def __init__(self, program, extra=(), port=0):
        self.program = program
        self.extra = list(extra)
        self.dir = tempfile.TemporaryDirectory(prefix="qubix24d-")
        self.trace = os.path.join(self.dir.name, "trace.jsonl")
        self.port = port
        self.process = None

    def start(self):
        args = [self.program, "--bus", "main=sim:virtual", "--data-dir", self.dir.name,
                "--listen", f"127.0.0.1:{self.port}", "--trace", self.trace] + self.extra
        self.process = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                        text=True)
        pattern = re.compile(r"listening on http://127\.0\.0\.1:(\d+)/")
        lines = []
        end = time.monotonic() + WAIT_S
        while time.monotonic() < end:
            line = self.process.stdout.readline()
            if not line:
                raise AssertionError("qubix24d ended:\n" + "".join(lines))
            lines.append(line)
            found = pattern.search(line)
            if found:
                self.port = int(found.group(1))
                break
        else:
            raise AssertionError("qubix24d did not say where it listens")
        wait_for("the bus to be read", self.ready)
        return self

    def ready(self):
        try:
            buses = self.get("/api/v1/buses")["buses"]
            machines = self.get("/api/v1/buses/main/machines")["machines"]
        except (OSError, ValueError, KeyError):
            return False
        return buses[0]["state"] == "connected" and not buses[0].get("busy") and machines

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=WAIT_S)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if self.process:
            self.process.stdout.close()
        self.process = None

    def close(self):
        self.stop()
        self.dir.cleanup()

    @property
    def url(self):
        return f"http://127.0.0.1:{self.port}"

    def request(self, method, path, body=None):
        data = None if body is None else body.encode() if isinstance(body, str) else json.dumps(body).encode()
        req = urllib.request.Request(self.url + path, data=data, method=method)
        if data is not None:
            req.add_header("Content-Type", "application/json")
        try:
            with urllib.request.urlopen(req, timeout=WAIT_S) as answer:
                return answer.status, answer.read().decode()
        except urllib.error.HTTPError as e:
            return e.code, e.read().decode()

    def get(self, path):
        status, text = self.request("GET", path)
        if status != 200:
            raise ValueError(f"GET {path}: {status} {text}")
        return json.loads(text)

    def sent(self):
        """Every frame the service wrote to the bus so far, as hex, in order."""
        frames = []
        with open(self.trace, encoding="utf-8") as f:
            for line in f:
                if not line.strip():
                    continue
                record = json.loads(line)
                if record.get("dir") == "tx" and record.get("hex"):
                    frames.append(record["hex"])
        return frames
