"""qubix24d --osc through liblo (its library and its oscsend/oscdump tools): every address with a
good argument puts on the simulated bus the frames of its API request (the same request made
over HTTP to a second service in the same state); a bad argument gets /qubix24/error and sends
nothing; a sender outside --osc-allow is ignored. A subscriber hears the state once and then
only what changed, in the form it names machines in; a pattern reaches every machine it
matches; a bundle runs at its time tag; with --osc-passcode nothing but one error reaches a
sender that did not give it."""

import argparse
import ctypes
import socket
import subprocess
import sys
import threading
import time
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


class Timetag(ctypes.Structure):
    _fields_ = [("sec", ctypes.c_uint32), ("frac", ctypes.c_uint32)]


lo.lo_bundle_new.restype = ctypes.c_void_p
lo.lo_bundle_new.argtypes = [Timetag]
lo.lo_bundle_add_message.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
lo.lo_bundle_free_recursive.argtypes = [ctypes.c_void_p]
lo.lo_send_bundle_from.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p]
lo.lo_timetag_now.argtypes = [ctypes.POINTER(Timetag)]

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

    def send_bundle(self, seconds_ahead, path, arg):
        """A bundle of one message, its time tag seconds_ahead from now (None: immediately)."""
        tag = Timetag(0, 1)
        if seconds_ahead is not None:
            lo.lo_timetag_now(ctypes.byref(tag))
            whole = int(seconds_ahead)
            frac = tag.frac + int((seconds_ahead - whole) * 2**32)
            tag = Timetag(tag.sec + whole + frac // 2**32, frac % 2**32)
        bundle = lo.lo_bundle_new(tag)
        lo.lo_bundle_add_message(bundle, path.encode(), message(arg))
        lo.lo_send_bundle_from(self.target, self.server, bundle)
        lo.lo_bundle_free_recursive(bundle)

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
        cls.osc_port = int(wait_for("the OSC port", lambda: osc_port_of(cls.osc)))
        cls.client = Client(cls.osc_port)
        cls.client.send("/qubix24/subscribe", None)

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


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def oscsend(port, path, *typed):
    """liblo's oscsend: one message from a port of its own that closes after it."""
    subprocess.run(["oscsend", "127.0.0.1", str(port), path, *map(str, typed)], check=True,
                   timeout=10)


class Dump:
    """liblo's oscdump on a port of its own; its lines as (address, arguments text)."""

    def __init__(self):
        self.port = free_udp_port()
        self.process = subprocess.Popen(["oscdump", "-L", str(self.port)],
                                        stdout=subprocess.PIPE, text=True)
        self.lines = []
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        time.sleep(0.2)  # until it listens

    def _read(self):
        for line in self.process.stdout:
            parts = line.split(" ", 2)
            if len(parts) >= 2:
                self.lines.append((parts[1], parts[2].strip() if len(parts) > 2 else ""))

    def close(self):
        self.process.terminate()
        self.process.wait(timeout=10)
        self.process.stdout.close()


ID1 = "/qubix24/main/H000000010001/"
VALUES_OF_A_MACHINE = 44  # 4 mutes, 2 gains, 4 attenuations, 2 delays, 30 band values, Flat, preset


def of_machine_1(messages):
    return [m for m in messages if m[0].startswith(ID1)]


def osc_port_of(service):
    for line in iter(service.process.stdout.readline, ""):
        if "OSC on udp port" in line:
            return line.rsplit(" ", 1)[1].strip()
    return None


def start_osc_service(extra=()):
    service = Service(ARGS.service, ["--osc", "0", *extra])
    service.start()
    return service, int(wait_for("the OSC port", lambda: osc_port_of(service)))


def quiet(seconds=0.4):
    """Time for anything still on its way to arrive."""
    time.sleep(seconds)


class OscSubscriptionTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.osc, cls.osc_port = start_osc_service()
        cls.osc.get("/api/v1/buses/main/machines/1")  # its values are known from now on

    @classmethod
    def tearDownClass(cls):
        cls.osc.close()

    def patch(self, machine, body):
        status, text = self.osc.request("PATCH", f"/api/v1/buses/main/machines/{machine}", body)
        self.assertLess(status, 300, text)

    def test_state_once_then_only_what_changed(self):
        dump = Dump()
        try:
            oscsend(self.osc_port, "/qubix24/subscribe", "i", dump.port)
            wait_for("the state", lambda: len(of_machine_1(dump.lines)) >= VALUES_OF_A_MACHINE)
            quiet()
            state = of_machine_1(dump.lines)
            self.assertEqual(len(state), VALUES_OF_A_MACHINE)
            self.assertEqual(len({a for a, _ in state}), VALUES_OF_A_MACHINE, "each value once")
            self.assertIn(("/qubix24/main/state", 's "connected"'), dump.lines)
            # Another subscriber hears the state; the first hears nothing again.
            before = len(dump.lines)
            other = Client(self.osc_port)
            other.send("/qubix24/subscribe", None)
            other.wait("the state", lambda r: len(of_machine_1(r)) >= VALUES_OF_A_MACHINE)
            quiet()
            self.assertEqual(dump.lines[before:], [])
            # A change: that change alone.
            self.patch(1, {"mute": {"2": True}})
            wait_for("the change", lambda: of_machine_1(dump.lines[before:]))
            quiet()
            self.assertEqual(of_machine_1(dump.lines[before:]), [(ID1 + "mute/2", "i 1")])
            oscsend(self.osc_port, "/qubix24/unsubscribe", "i", dump.port)
            other.send("/qubix24/unsubscribe", None)
        finally:
            dump.close()
            self.patch(1, {"mute": {"2": False}})

    def test_feedback_in_the_form_the_sender_uses(self):
        by_slot, by_id = Client(self.osc_port), Client(self.osc_port)
        for client in (by_slot, by_id):
            client.send("/qubix24/subscribe", None)
            client.wait("the state", lambda r: len(of_machine_1(r)) >= VALUES_OF_A_MACHINE)
        by_id.send(ID1 + "mute/4", ("i", 0))  # names machine 1 by its identifier
        seen_slot, seen_id = len(by_slot.received), len(by_id.received)
        by_slot.send("/qubix24/main/1/mute/3", ("i", 1))
        by_slot.wait("its own change", lambda r: ("/qubix24/main/1/mute/3", [1]) in r[seen_slot:])
        by_id.wait("the change", lambda r: (ID1 + "mute/3", [1]) in r[seen_id:])
        quiet()
        self.assertNotIn((ID1 + "mute/3", [1]), by_slot.received[seen_slot:])
        self.assertNotIn(("/qubix24/main/1/mute/3", [1]), by_id.received[seen_id:])
        by_slot.send("/qubix24/main/1/mute/3", ("i", 0))
        by_slot.wait("unmuted", lambda r: ("/qubix24/main/1/mute/3", [0]) in r)
        for client in (by_slot, by_id):
            client.send("/qubix24/unsubscribe", None)

    def mutes(self, output):
        machines = self.osc.get("/api/v1/buses/main/machines")["machines"]
        return [self.osc.get(f"/api/v1/buses/main/machines/{m['slot']}")["mute"][output - 1]
                for m in machines]

    def test_a_pattern_reaches_every_machine_it_matches(self):
        self.assertGreater(len(self.mutes(1)), 1)
        oscsend(self.osc_port, "/qubix24/main/*/mute/1", "i", 1)
        wait_for("every machine muted", lambda: all(self.mutes(1)))
        oscsend(self.osc_port, "/qubix24/main/[1-8]/mute/{1,2}", "i", 0)
        wait_for("every machine unmuted", lambda: not any(self.mutes(1)))
        # One that matches too much does nothing at all.
        client = Client(self.osc_port)
        start = len(self.osc.sent())
        client.send("/qubix24/main/*/band/*/*", ("f", 1.0))
        reply = client.wait("refused", lambda r: [a for p, a in r if p == "/qubix24/error"])
        self.assertIn("matches more than", reply[0][1])
        self.assertEqual(self.osc.sent()[start:], [])

    def test_a_bundle_runs_at_its_time_tag(self):
        client = Client(self.osc_port)
        sent = time.monotonic()
        client.send_bundle(1.5, "/qubix24/main/1/mute/4", ("i", 1))
        time.sleep(0.8)
        self.assertFalse(self.mutes(4)[0], "ran before its time")
        wait_for("muted at its time", lambda: self.mutes(4)[0])
        self.assertGreaterEqual(time.monotonic() - sent, 1.4)
        # Beyond the limit: refused at once, and nothing later.
        start = len(self.osc.sent())
        client.send_bundle(120, "/qubix24/main/1/mute/4", ("i", 0))
        reply = client.wait("refused", lambda r: [a for p, a in r if p == "/qubix24/error"])
        self.assertEqual(reply[0][0], "#bundle")
        self.assertIn("ahead", reply[0][1])
        # "Immediately" runs now.
        client.send_bundle(None, "/qubix24/main/1/mute/4", ("i", 0))
        wait_for("unmuted at once", lambda: not self.mutes(4)[0], timeout=5)
        self.assertGreater(len(self.osc.sent()), start)


def packet(path, arg):
    m = message(arg)
    size = ctypes.c_size_t(0)
    data = lo.lo_message_serialise(m, path.encode(), None, ctypes.byref(size))
    lo.lo_message_free(m)
    return ctypes.string_at(data, size.value)


class OscPasscodeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.osc, cls.osc_port = start_osc_service(["--osc-passcode", "open sesame"])

    @classmethod
    def tearDownClass(cls):
        cls.osc.close()

    def mute1(self):
        return self.osc.get("/api/v1/buses/main/machines/1")["mute"][0]

    def test_a_sender_gives_the_passcode_first(self):
        client = Client(self.osc_port)
        start = len(self.osc.sent())
        oscsend(self.osc_port, f"{M}/mute/1", "i", 1)
        client.send(f"{M}/mute/1", ("i", 1))
        reply = client.wait("refused", lambda r: [a for p, a in r if p == "/qubix24/error"])
        self.assertIn("not connected", reply[0][1])
        client.send("/qubix24/connect", ("s", "open sesam"))
        client.wait("a wrong passcode refused",
                    lambda r: [a for p, a in r if a[1:] == ["wrong passcode"]])
        quiet()
        self.assertEqual(self.osc.sent()[start:], [])
        client.send("/qubix24/connect", ("s", "open sesame"))
        seen = len(client.received)
        client.send(f"{M}/mute/1", ("i", 1))
        wait_for("muted", self.mute1)
        self.assertNotEqual(self.osc.sent()[start:], [])
        self.assertEqual([a for p, a in client.received[seen:] if p == "/qubix24/error"], [])
        client.send(f"{M}/mute/1", ("i", 0))
        wait_for("unmuted", lambda: not self.mute1())

    def test_a_forged_source_gets_one_short_answer(self):
        # What a host forging this socket's address would bring on it: the same datagrams.
        victim = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        victim.bind(("127.0.0.1", 0))
        victim.settimeout(1.0)
        try:
            for path, arg in [("/qubix24/subscribe", None), (f"{M}/mute/1", ("i", 1)),
                              ("/qubix24/subscribe", ("i", victim.getsockname()[1]))]:
                victim.sendto(packet(path, arg), ("127.0.0.1", self.osc_port))
                answer = victim.recv(65536)
                self.assertLessEqual(len(answer), 128)
                self.assertTrue(answer.startswith(b"/qubix24/error\0"))
            # A change: a subscription would carry it; there is none.
            for on in (True, False):
                self.osc.request("PATCH", "/api/v1/buses/main/machines/1", {"mute": {"2": on}})
            with self.assertRaises(socket.timeout):
                victim.recv(65536)
            self.assertFalse(self.mute1())
        finally:
            victim.close()


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
