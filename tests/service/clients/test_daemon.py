"""qubix24d as an operator starts it: --show-token prints the tokens of the running service
(whatever its buses, with the same options or none), never makes a file, and the service's folder
is its owner's alone; a key that is not the certificate's stops the start."""

import argparse
import json
import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest
import urllib.error
import urllib.request

from harness import WAIT_S

ARGS = None


class Daemon:
    """qubix24d with a home of its own (XDG_DATA_HOME in a temporary folder)."""

    def __init__(self, home):
        self.env = dict(os.environ, HOME=home, XDG_DATA_HOME=os.path.join(home, "data"))
        self.process = None
        self.port = None

    def run(self, *args):
        return subprocess.run([ARGS.service, *args], env=self.env, capture_output=True, text=True,
                              timeout=WAIT_S)

    def start(self, *args):
        self.process = subprocess.Popen([ARGS.service, *args, "--listen", "127.0.0.1:0"],
                                        env=self.env, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT, text=True)
        lines = []
        for line in self.process.stdout:
            lines.append(line)
            found = re.search(r"listening on http://127\.0\.0\.1:(\d+)/", line)
            if found:
                self.port = int(found.group(1))
                return
        raise AssertionError("qubix24d ended:\n" + "".join(lines))

    def stop(self):
        if self.process:
            self.process.terminate()
            self.process.wait(timeout=WAIT_S)
            self.process.stdout.close()

    def session(self, token):
        """POST /api/v1/session with the token: its status (a loopback listener checks it too)."""
        request = urllib.request.Request(f"http://127.0.0.1:{self.port}/api/v1/session",
                                         data=json.dumps({"token": token}).encode(),
                                         method="POST",
                                         headers={"Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(request, timeout=WAIT_S) as answer:
                return answer.status, json.loads(answer.read())
        except urllib.error.HTTPError as e:
            return e.code, None


def tokens_of(output):
    return dict(line.split() for line in output.splitlines())


class ShowToken(unittest.TestCase):
    def setUp(self):
        self.home = tempfile.TemporaryDirectory(prefix="qubix24d-home-")
        self.daemon = Daemon(self.home.name)

    def tearDown(self):
        self.daemon.stop()
        self.home.cleanup()

    def check_running_service(self, service_args, show_args):
        self.daemon.start(*service_args)
        shown = self.daemon.run(*show_args, "--show-token")
        self.assertEqual(shown.returncode, 0, shown.stderr)
        tokens = tokens_of(shown.stdout)
        self.assertEqual(self.daemon.session(tokens["control"]), (200, {"access": "control"}))
        self.assertEqual(self.daemon.session(tokens["view"]), (200, {"access": "view"}))
        self.assertEqual(self.daemon.session("0" * 64)[0], 401)

    def test_bare_command_reads_the_simulated_bus_services_tokens(self):
        self.check_running_service(["--bus", "main=sim:virtual"], [])
        root = os.path.join(self.home.name, "data", "qubix24")
        self.assertEqual(stat.S_IMODE(os.stat(root).st_mode), 0o700)

    def test_same_config_file_reads_the_services_tokens(self):
        data = os.path.join(self.home.name, "service")
        config = os.path.join(self.home.name, "qubix24d.conf")
        with open(config, "w", encoding="utf-8") as f:
            f.write(f"; settings\n[service]\ndata-dir = {data}\n[buses]\nmain = sim:virtual\n"
                    "stage = sim:virtual\n")
        self.check_running_service(["--config", config], ["--config", config])
        self.assertEqual(stat.S_IMODE(os.stat(data).st_mode), 0o700)

    def test_no_file_is_made(self):
        shown = self.daemon.run("--bus", "main=sim:virtual", "--show-token")
        self.assertEqual(shown.returncode, 1)
        self.assertIn("there is no token file", shown.stderr)
        self.assertEqual(os.listdir(self.home.name), [])


@unittest.skipUnless(shutil.which("openssl"), "no openssl command to make a key with")
class MismatchedKey(unittest.TestCase):
    def test_stops_the_start_with_the_reason(self):
        with tempfile.TemporaryDirectory(prefix="qubix24d-tls-") as folder:
            key = os.path.join(folder, "other.pem")
            subprocess.run(["openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout",
                            "-out", key], check=True, capture_output=True, timeout=WAIT_S)
            daemon = Daemon(folder)
            started = daemon.run("--bus", "main=sim:virtual", "--data-dir", folder,
                                 "--listen", "127.0.0.1:0",
                                 "--tls-cert", os.path.join(ARGS.data, "tls-cert.pem"),
                                 "--tls-key", key)
            self.assertEqual(started.returncode, 1, started.stdout)
            self.assertIn("is not the key of the certificate", started.stderr)
            self.assertNotIn("listening on", started.stdout)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--service", required=True)
    parser.add_argument("--data", required=True, help="the folder of tls-cert.pem")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
