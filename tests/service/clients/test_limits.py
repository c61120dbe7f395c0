"""qubix24d's connection counts and lifetimes, asked of the program itself on loopback: WebSocket
sessions give their slot back, one address cannot hold every slot, 256 level listeners are
served at once, a stop with a watcher ends cleanly, and a client that never reads its replies is
closed before the service's memory grows. Other loopback addresses (127.0.0.2, ...) stand in for
other computers. Every loop is bounded in count and time."""

import argparse
import base64
import json
import os
import select
import signal
import socket
import struct
import sys
import time
import unittest

from harness import WAIT_S, Service, wait_for

ARGS = None


def connect(port, source="127.0.0.1"):
    s = socket.create_connection(("127.0.0.1", port), timeout=WAIT_S, source_address=(source, 0))
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return s


def read_head(s):
    """The bytes up to the end of an HTTP head (and whatever came with it)."""
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = s.recv(4096)
        if not chunk:
            break
        data += chunk
    return data


def status_of(head):
    line = head.split(b"\r\n", 1)[0].split()
    return int(line[1]) if len(line) > 1 else 0


def get(port, path="/api/v1/buses", source="127.0.0.1"):
    """The status of one GET from a source address (0 when the connection ended unanswered)."""
    with connect(port, source) as s:
        s.sendall(f"GET {path} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nConnection: close\r\n\r\n"
                  .encode())
        try:
            return status_of(read_head(s))
        except ConnectionResetError:
            return 0


def frame(text, opcode=1):
    """A masked client frame."""
    payload = text.encode()
    mask = os.urandom(4)
    size = len(payload)
    head = bytes([0x80 | opcode])
    if size < 126:
        head += bytes([0x80 | size])
    else:
        head += bytes([0x80 | 126]) + struct.pack("!H", size)
    return head + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(payload))


class WebSocket:
    """The events socket, as small as a test needs: text frames out, text frames in."""

    def __init__(self, port, source="127.0.0.1"):
        self.sock = connect(port, source)
        key = base64.b64encode(os.urandom(16)).decode()
        self.sock.sendall((f"GET /api/v1/events HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n"
                           "Upgrade: websocket\r\nConnection: Upgrade\r\n"
                           f"Sec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n\r\n")
                          .encode())
        head = read_head(self.sock)
        self.status = status_of(head)
        self.buffer = head.split(b"\r\n\r\n", 1)[1] if b"\r\n\r\n" in head else b""

    def send(self, text):
        self.sock.sendall(frame(text))

    def messages(self, timeout):
        """Text messages until none is complete and timeout seconds have passed without data."""
        out = []
        while True:
            while len(self.buffer) >= 2:
                size, at = self.buffer[1] & 0x7F, 2
                if size == 126:
                    size, at = struct.unpack("!H", self.buffer[2:4])[0], 4
                elif size == 127:
                    size, at = struct.unpack("!Q", self.buffer[2:10])[0], 10
                if len(self.buffer) < at + size:
                    break
                if self.buffer[0] & 0x0F == 1:
                    out.append(json.loads(self.buffer[at:at + size]))
                self.buffer = self.buffer[at + size:]
            if out or not select.select([self.sock], [], [], timeout)[0]:
                return out
            chunk = self.sock.recv(65536)
            if not chunk:
                return out
            self.buffer += chunk

    def close(self):
        try:
            self.sock.sendall(frame("", opcode=8))
        except OSError:
            pass
        self.sock.close()


def rss_kib(pid):
    with open(f"/proc/{pid}/status", encoding="ascii") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


SUBSCRIBE = json.dumps({"subscribe": "levels", "bus": "main", "machine": "1"})


class LimitsTest(unittest.TestCase):
    def setUp(self):
        self.service = Service(ARGS.service).start()
        self.port = self.service.port

    def tearDown(self):
        self.service.close()

    def test_websocket_sessions_give_their_slot_back(self):
        for i in range(70):
            ws = WebSocket(self.port)
            self.assertEqual(ws.status, 101, f"session {i}")
            ws.close()
        # The server sees each close a moment later: a GET is answered once they are seen.
        self.assertEqual(wait_for("a GET answered 200", lambda: get(self.port) == 200), True)

    def test_one_address_cannot_hold_every_slot(self):
        slow = []
        for _ in range(70):
            s = connect(self.port, "127.0.0.2")
            s.sendall(b"GET /api/v1/buses HTTP/1.1\r\n")  # and never the rest
            slow.append(s)
        try:
            # Those over the address's share are refused at once; the others stay open.
            refused = 0
            for s in slow:
                if select.select([s], [], [], 0.5)[0] and status_of(read_head(s)) == 503:
                    refused += 1
            self.assertEqual(refused, 70 - 16)
            self.assertEqual(get(self.port, source="127.0.0.3"), 200)
        finally:
            for s in slow:
                s.close()

    def test_256_level_listeners_are_served_at_once(self):
        listeners = []
        try:
            for i in range(256):
                ws = WebSocket(self.port)
                self.assertEqual(ws.status, 101, f"listener {i}")
                ws.send(SUBSCRIBE)
                listeners.append(ws)
            heard = 0
            end = time.monotonic() + 3 * WAIT_S
            for ws in listeners:
                while time.monotonic() < end:
                    got = ws.messages(1.0)
                    if any(m.get("type") == "levels" for m in got):
                        heard += 1
                        break
                    if not got:
                        break
            self.assertEqual(heard, 256)
            self.assertEqual(get(self.port), 200)
        finally:
            for ws in listeners:
                ws.close()

    def test_a_stop_with_a_watcher_ends_cleanly(self):
        ws = WebSocket(self.port)
        self.assertEqual(ws.status, 101)
        ws.send(SUBSCRIBE)
        wait_for("a level reading", lambda: any(m.get("type") == "levels"
                                                for m in ws.messages(1.0)))
        process = self.service.process
        process.send_signal(signal.SIGTERM)
        self.assertEqual(process.wait(timeout=WAIT_S), 0)
        ws.sock.close()

    def test_a_client_that_never_reads_its_replies_is_closed(self):
        ws = WebSocket(self.port, "127.0.0.2")
        self.assertEqual(ws.status, 101)
        ws.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        pid = self.service.process.pid
        before = rss_kib(pid)
        batch = frame("x") * 8192  # each one answered by an error message ten times its size
        closed = False
        end = time.monotonic() + 2 * WAIT_S
        sent = 0
        while time.monotonic() < end and sent < 4 << 20:
            try:
                if not select.select([], [ws.sock], [], 1.0)[1]:
                    continue
                sent += ws.sock.send(batch)
            except OSError:  # reset or pipe closed: the service let the client go
                closed = True
                break
        after = rss_kib(pid)
        print(f"unread replies: {sent} bytes sent, VmRSS {before} KiB before, {after} KiB after",
              file=sys.stderr)
        self.assertTrue(closed, f"still open after {sent} bytes")
        self.assertLess(after - before, 8 * 1024)
        self.assertEqual(get(self.port), 200)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--service", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
