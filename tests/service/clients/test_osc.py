"""qubix24d --osc through a real liblo client: every address with a good argument puts on the
simulated bus the frames of its API request (the same request made over HTTP to a second
service in the same state); a bad argument gets /qubix24/error and sends nothing; a sender
outside --osc-allow is ignored."""

import argparse
import ctypes
import socket
import sys
import unittest

from harness import Service, wait_for

ARGS = None
lo = ctypes.CDLL("liblo.so.7")
lo.lo_address_new.restype = ctypes.c_void_p
lo.lo_address_new.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
lo.lo_server_new.restype = ctypes.c_void_p
lo.lo_server_new.argtypes = [ctypes.c_char_p, ctypes.c_void_p]
lo.lo_server_recv_noblock.argtypes = [ctypes.c_void_p, ctypes.c_int]
lo.lo_message_new.restype = ctypes.c_void_p
lo.lo_message_add_float.argtypes = [ctypes.c_void_p, ctypes.c_float]
lo.lo_message_add_int32.argtypes = [ctypes.c_void_p, ctypes.c_int32]
lo.lo_message_add_string.argtypes = [ctypes.c_void_p, ctypes.c_char_p]
lo.lo_message_free.argtypes = [ctypes.c_void_p]
lo.lo_send_message_from.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_char_p,
                                    ctypes.c_void_p]
lo.lo_message_serialise.restype = ctypes.c_void_p
lo.lo_message_serialise.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p,
                                    ctypes.POINTER(ctypes.c_size_t)]
Handler = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_char_p, ctypes.c_char_p,
                           ctypes.POINTER(ctypes.c_void_p), ctypes.c_int, ctypes.c_void_p,
                           ctypes.c_void_p)
lo.lo_server_add_method.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_char_p, Handler,
                                    ctypes.c_void_p]
lo.lo_message_get_argv.restype = ctypes.POINTER(ctypes.c_void_p)

M = "/qubix24/main/1"
# address, good argument, bad argument ((type, value) or None for no argument), API request
CASES = [
    ("mute", f"{M}/mute/2", ("i", 1), ("i", 2), "PATCH", "/machines/1", {"mute": {"2": True}}),
    ("input_gain", f"{M}/input/a/gain", ("f", -3.5), ("f", 13.0), "PATCH", "/machines/1",
     {"inputGain": {"a": -3.5}}),
    ("attenuation", f"{M}/output/3/attenuation", ("f", -6.0), ("f", 1.0), "PATCH",
     "/machines/1", {"attenuation": {"ch34": -6}}),
    ("delay", f"{M}/delay/1", ("f", 10.0), ("f", 400.0), "PATCH", "/machines/1",
     {"delay": {"ch12": 10}}),
    ("band_gain", f"{M}/band/4/gain", ("f", 6.0), ("f", 13.0), "PATCH", "/machines/1",
     {"bands": [{"band": 4, "gain": 6}]}),
    ("band_frequency", f"{M}/band/2/frequency", ("f", 250.0), ("f", 5.0), "PATCH",
     "/machines/1", {"bands": [{"band": 2, "frequency": 250}]}),
    ("band_q", f"{M}/band/7/q", ("f", 2.5), ("f", 60.0), "PATCH", "/machines/1",
     {"bands": [{"band": 7, "q": 2.5}]}),
    ("flat", f"{M}/flat", ("i", 1), ("s", "on"), "PATCH", "/machines/1", {"flat": True}),
    ("user_preset_recall", f"{M}/user-preset/recall", ("i", 2), ("i", 9), "POST",
     "/machines/1/user-preset/recall", {"location": 2}),
    ("user_preset_store", f"{M}/user-preset/store", ("i", 3), ("i", -1), "POST",
     "/machines/1/user-preset/store", {"location": 3}),
    ("hardware_preset", f"{M}/hardware-preset", ("i", 2), ("i", 8), "POST",
     "/machines/1/hardware-preset", {"number": 2}),
    ("refresh", "/qubix24/main/refresh", None, ("i", 1), "POST", "/refresh", None),
]


def message(arg):
    m = lo.lo_message_new()
    if arg is not None:
        kind, value = arg
        if kind == "f":
            lo.lo_message_add_float(m, value)
        elif kind == "i":
            lo.lo_message_add_int32(m, value)
        else:
            lo.lo_message_add_string(m, value.encode())
    return m


class Client:
    """A liblo server on a free port that sends from it and collects the replies."""

    def __init__(self, port):
        self.server = lo.lo_server_new(None, None)
        self.target = lo.lo_address_new(b"127.0.0.1", str(port).encode())
        self.received = []

        def on_message(path, types, argv, argc, msg, user):
            args = []
            for i, t in enumerate(types.decode()):
                if t == "s":
                    args.append(ctypes.cast(argv[i], ctypes.c_char_p).value.decode())
                elif t == "f":
                    args.append(ctypes.cast(argv[i], ctypes.POINTER(ctypes.c_float))[0])
                elif t == "i":
                    args.append(ctypes.cast(argv[i], ctypes.POINTER(ctypes.c_int32))[0])
            self.received.append((path.decode(), args))
            return 0

        self.handler = Handler(on_message)
        lo.lo_server_add_method(self.server, None, None, self.handler, None)

    def send(self, path, arg):
        m = message(arg)
        lo.lo_send_message_from(self.target, self.server, path.encode(), m)
        lo.lo_message_free(m)

    def poll(self):
        lo.lo_server_recv_noblock(self.server, 50)
        return self.received

    def wait(self, what, check):
        return wait_for(what, lambda: (self.poll(), check(self.received))[1], step=0)


def finished(received, start):
    return any(p == "/qubix24/main/operation" and a[1] in ("finished", "failed")
               for p, a in received[start:])


class OscTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.osc = Service(ARGS.service, ["--osc", "0", "--osc-allow", "127.0.0.1/32"])
        cls.osc.start()
        cls.api = Service(ARGS.service).start()
        cls.osc_port = int(wait_for("the OSC port", lambda: cls.osc_port_said()))
        cls.client = Client(cls.osc_port)
        cls.client.send("/qubix24/subscribe", None)

    @classmethod
    def osc_port_said(cls):
        for line in iter(cls.osc.process.stdout.readline, ""):
            if "OSC on udp port" in line:
                return line.rsplit(" ", 1)[1].strip()
        return None

    @classmethod
    def tearDownClass(cls):
        cls.osc.close()
        cls.api.close()

    def test_every_address_good_and_bad(self):
        for name, path, good, bad, method, api_path, body in CASES:
            with self.subTest(case=name):
                # Good: the frames of the API's request for the same change.
                start_osc, start_api = len(self.osc.sent()), len(self.api.sent())
                seen = len(self.client.received)
                self.client.send(path, good)
                self.client.wait(f"{name} done", lambda r: finished(r, seen))
                status, text = self.api.request(method, "/api/v1/buses/main" + api_path, body)
                self.assertLess(status, 300, text)
                frames = self.osc.sent()[start_osc:]
                self.assertTrue(frames, "nothing reached the bus")
                self.assertEqual(frames, self.api.sent()[start_api:])
                errors = [a for p, a in self.client.received[seen:] if p == "/qubix24/error"]
                self.assertEqual(errors, [])
                # Bad: an error reply naming the address, and nothing on the bus.
                start_osc = len(self.osc.sent())
                seen = len(self.client.received)
                self.client.send(path, bad)
                reply = self.client.wait(f"{name} refused", lambda r: [
                    a for p, a in r[seen:] if p == "/qubix24/error"])
                self.assertEqual(reply[0][0], path)
                self.assertEqual(self.osc.sent()[start_osc:], [])

    def test_sender_outside_the_allowed_subnet_is_ignored(self):
        m = message(("i", 1))
        size = ctypes.c_size_t(0)
        data = lo.lo_message_serialise(m, f"{M}/mute/1".encode(), None, ctypes.byref(size))
        packet = ctypes.string_at(data, size.value)
        lo.lo_message_free(m)
        outsider = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        outsider.bind(("127.0.0.2", 0))
        outsider.settimeout(0.5)
        outsider.sendto(packet, ("127.0.0.1", self.osc_port))
        # Then an allowed sender's request: when it is done, the outsider's would have been.
        seen = len(self.client.received)
        self.client.send(f"{M}/mute/4", ("i", 0))
        self.client.wait("the allowed request done", lambda r: finished(r, seen))
        self.assertFalse(self.osc.get("/api/v1/buses/main/machines/1")["mute"][0])
        with self.assertRaises(socket.timeout):
            outsider.recv(512)
        outsider.close()


def packet(path, arg):
    m = message(arg)
    size = ctypes.c_size_t(0)
    data = lo.lo_message_serialise(m, path.encode(), None, ctypes.byref(size))
    out = ctypes.string_at(data, size.value)
    lo.lo_message_free(m)
    return out


class OscRateTest(unittest.TestCase):
    """A sender over its rate is dropped unanswered; another sender is served meanwhile."""

    def test_a_flooding_sender_is_held_to_its_rate(self):
        service = Service(ARGS.service, ["--osc", "0", "--osc-allow", "127.0.0.0/8"]).start()
        try:
            port = int(wait_for("the OSC port", lambda: next(
                (line.rsplit(" ", 1)[1].strip() for line in
                 iter(service.process.stdout.readline, "") if "OSC on udp port" in line),
                None)))
            flooder = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            flooder.bind(("127.0.0.2", 0))
            flooder.settimeout(1.0)
            bad = packet(f"{M}/mute/1", ("i", 2))  # refused with a reply, nothing on the bus
            for _ in range(200):
                flooder.sendto(bad, ("127.0.0.1", port))
            replies = 0
            try:
                while replies < 200:
                    flooder.recv(512)
                    replies += 1
            except socket.timeout:
                pass
            # A second's worth at once and the trickle while they were sent; the rest dropped.
            self.assertGreaterEqual(replies, 50)
            self.assertLessEqual(replies, 100)
            client = Client(port)
            client.send("/qubix24/subscribe", None)
            seen = len(client.received)
            client.send(f"{M}/mute/4", ("i", 1))
            client.wait("the other sender served", lambda r: finished(r, seen))
            self.assertTrue(service.get("/api/v1/buses/main/machines/1")["mute"][3])
            flooder.close()
        finally:
            service.close()


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--service", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
