"""qubix24d on an address another program holds: it ends with status 1 and names the address.

Usage: listen_in_use.py QUBIX24D SCRATCH_DIR
"""
import socket
import subprocess
import sys

service, scratch = sys.argv[1], sys.argv[2]
holder = socket.socket()
holder.bind(("127.0.0.1", 0))
holder.listen()
port = holder.getsockname()[1]
run = subprocess.run(
    [service, "--listen", f"127.0.0.1:{port}", "--bus", "main=sim:virtual", "--data-dir", scratch],
    capture_output=True, text=True, timeout=30, check=False)
print(run.stderr, end="")
expected = f"qubix24d: cannot serve on 127.0.0.1:{port}: "
sys.exit(0 if run.returncode == 1 and expected in run.stderr else 1)
