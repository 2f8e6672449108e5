#!/usr/bin/env python3
"""`cabfile` as a command-line user meets it: help and version on standard
output with status 0, a wrong command line as usage on standard error with
status 2, a raised error with status 1, and the extraction's progress line
only on a terminal and never with -q.

usage: cabfile_command_line.py CABFILE   (exit 77: no gcab to make a cabinet)
"""
import os
import pty
import re
import shutil
import subprocess
import sys
import tempfile

SKIPPED = 77


def on_terminal(command):
    """Runs `command` with standard error on a terminal; its status, stdout
    and what the terminal showed."""
    master, slave = pty.openpty()
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=slave)
    os.close(slave)
    shown = b""
    while True:
        try:
            chunk = os.read(master, 4096)
        except OSError:  # the last writer is gone
            break
        if not chunk:
            break
        shown += chunk
    out = process.stdout.read()
    os.close(master)
    return process.wait(), out, shown


def main():
    tool = sys.argv[1]
    if shutil.which("gcab") is None:
        return SKIPPED
    work = tempfile.mkdtemp()
    try:
        os.makedirs(os.path.join(work, "src", "sub"))
        for name, size in (("a.txt", 5), (os.path.join("sub", "b.txt"), 3000)):
            with open(os.path.join(work, "src", name), "wb") as f:
                f.write(b"x" * size)
        cab = os.path.join(work, "two.cab")
        subprocess.run(["gcab", "-c", cab, "a.txt", "sub/b.txt"], cwd=os.path.join(work, "src"), check=True)
        out = os.path.join(work, "out")
        usage = r"^usage: cabfile "

        # (what, arguments, status, stdout pattern, stderr pattern)
        cases = [
            ("--help", ["--help"], 0, usage, r"^$"),
            ("-h", ["-h"], 0, usage, r"^$"),
            ("--version", ["--version"], 0, r"^cabfile \d+\.\d+\.\d+\n$", r"^$"),
            ("nothing", [], 2, r"^$", r"no command given\nusage: "),
            ("unknown command", ["frobnicate", cab], 2, r"^$", r"unknown command 'frobnicate'\nusage: "),
            ("unknown option", ["--frob", "count", cab], 2, r"^$", r"unknown option '--frob'\nusage: "),
            ("too few operands", ["count"], 2, r"^$", r"wrong number of arguments for 'count'\nusage: "),
            ("too many operands", ["extract", cab, out, "a", "b", "c"], 2, r"^$", r"wrong number.*\nusage: "),
            ("count", ["count", cab], 0, r"^2\n$", r"^$"),
            ("options anywhere", ["count", "-q", cab], 0, r"^2\n$", r"^$"),
            ("raised error", ["count", os.path.join(work, "missing.cab")], 1, r"^$",
             r"^cabfile: error 2 in CabFile: The system cannot find the file specified\.\n$"),
            ("extract to a pipe is silent", ["extract", cab, out], 0, r"^$", r"^$"),
        ]
        failures = []
        for what, arguments, status, stdout, stderr in cases:
            run = subprocess.run([tool] + arguments, capture_output=True)
            got = (run.returncode, run.stdout.decode(), run.stderr.decode())
            if got[0] != status or not re.search(stdout, got[1]) or not re.search(stderr, got[2]):
                failures.append(f"{what}: status {got[0]}, stdout {got[1]!r}, stderr {got[2]!r}")

        # On a terminal: entries and bytes of the total, rewritten in place.
        status, stdout, shown = on_terminal([tool, "extract", cab, out])
        if status != 0 or stdout or not re.search(rb"^\r0/2 entries, 0\.0/2\.9 KB.*\r2/2 entries, 2\.9/2\.9 KB *\r?\n$",
                                                  shown, re.S):
            failures.append(f"progress on a terminal: status {status}, stdout {stdout!r}, shown {shown!r}")
        status, stdout, shown = on_terminal([tool, "-q", "extract", cab, out])
        if status != 0 or stdout or shown:
            failures.append(f"-q on a terminal: status {status}, stdout {stdout!r}, shown {shown!r}")

        for failure in failures:
            print(failure)
        return 1 if failures else 0
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    sys.exit(main())
