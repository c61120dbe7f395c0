#!/usr/bin/env python3
"""Runs clang-tidy on the given sources with the compile commands of ./build, two at a time, and
remembers each file found clean: a file whose preprocessed text, compile flags, .clang-tidy and
clang-tidy version are all unchanged is not checked again (what a compiler cache does for a
build). The memory lives in $XDG_CACHE_HOME/qubix24-tidy (~/.cache by default) and holds only
clean results, so a finding is reported every time until it is mended.

    tools/tidy.py FILE...     prints the findings; exit status 1 when there are any
"""
import concurrent.futures
import hashlib
import json
import os
import shlex
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CACHE = os.path.join(os.environ.get("XDG_CACHE_HOME", os.path.expanduser("~/.cache")),
                     "qubix24-tidy")


def compile_commands():
    with open(os.path.join(ROOT, "build", "compile_commands.json"), encoding="utf-8") as f:
        return {os.path.realpath(os.path.join(e["directory"], e["file"])): e for e in json.load(f)}


def preprocessed(entry):
    """The file as the compiler sees it, without line markers (they name this clone's paths)."""
    args = entry["arguments"] if "arguments" in entry else shlex.split(entry["command"])
    # Drop the compiler cache's launcher words and the output and dependency options.
    while args and ("=" in args[0] or os.path.basename(args[0]) in ("env", "ccache")):
        args = args[1:]
    kept, skip = [], False
    for a in args[1:]:
        if skip:
            skip = False
            continue
        if a in ("-o", "-MF", "-MT", "-MQ"):
            skip = True
            continue
        if a in ("-c", "-MD", "-MMD"):
            continue
        kept.append(a)
    run = subprocess.run([args[0], "-E", "-P", *kept], cwd=entry["directory"],
                         capture_output=True, check=False)
    return run.stdout if run.returncode == 0 else None


def key(entry, common):
    text = preprocessed(entry)
    if text is None:
        return None
    flags = [a for a in shlex.split(entry.get("command", "")) if a.startswith(("-W", "-std", "-D"))]
    return hashlib.sha256(common + " ".join(flags).encode() + b"\0" + text).hexdigest()


def tidy(path):
    run = subprocess.run(["clang-tidy", "-p", os.path.join(ROOT, "build"), "--quiet", path],
                         capture_output=True, text=True, check=False)
    lines = [l for l in run.stdout.splitlines() if "warning:" in l or "error:" in l]
    return lines


def main(files):
    entries = compile_commands()
    version = subprocess.run(["clang-tidy", "--version"], capture_output=True, check=False).stdout
    with open(os.path.join(ROOT, ".clang-tidy"), "rb") as f:
        common = version + f.read()
    os.makedirs(CACHE, exist_ok=True)

    def check(rel):
        path = os.path.realpath(os.path.join(ROOT, rel))
        entry = entries.get(path)
        if entry is None:  # not compiled in this build (a backend without its library)
            return rel, [], None
        k = key(entry, common)
        if k and os.path.exists(os.path.join(CACHE, k)):
            return rel, [], True
        found = tidy(path)
        if k and not found:
            open(os.path.join(CACHE, k), "w").close()
        return rel, found, False

    findings, remembered, checked, unbuilt = set(), 0, 0, 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        for _, found, known in pool.map(check, files):
            findings.update(found)
            unbuilt += known is None
            remembered += known is True
            checked += known is False
    for line in sorted(findings):
        print(line)
    print(f"clang-tidy: {checked} files checked, {remembered} unchanged since found clean, "
          f"{unbuilt} not built here", file=sys.stderr)
    return 1 if findings else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
