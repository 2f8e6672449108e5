#!/usr/bin/env python3
"""cabfile's statuses and streams, and its progress line on a terminal.
usage: cabfile_command_line.py CABFILE   (exit 77: no gcab)"""
import os
import pty
import re
import shutil
import subprocess
import sys
import tempfile


def on_terminal(command):
    """Status, stdout and what a terminal on stderr showed."""
    master, slave = pty.openpty()
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=slave)
    os.close(slave)
    shown = b""
    try:
        while chunk := os.read(master, 4096):
            shown += chunk
    except OSError:  # the terminal's last writer is gone
        pass
    os.close(master)
    return process.wait(), process.stdout.read(), shown


def main():
    tool = sys.argv[1]
    if shutil.which("gcab") is None:
        return 77
    with tempfile.TemporaryDirectory() as work:
        os.makedirs(f"{work}/src/sub")
        for name, size in (("a.txt", 5), ("sub/b.txt", 3000)):
            with open(f"{work}/src/{name}", "wb") as f:
                f.write(b"x" * size)
        cab, out = f"{work}/two.cab", f"{work}/out"
        subprocess.run(["gcab", "-c", cab, "a.txt", "sub/b.txt"], cwd=f"{work}/src", check=True)
        usage = "^usage: cabfile "
        cases = [  # arguments, status, stdout, stderr (patterns)
            (["--help"], 0, usage, "^$"),
            (["-h"], 0, usage, "^$"),
            (["--version"], 0, r"^cabfile \d+\.\d+\.\d+\n$", "^$"),
            ([], 2, "^$", "no command given\nusage: "),
            (["frobnicate", cab], 2, "^$", "unknown command 'frobnicate'\nusage: "),
            (["--frob", "count", cab], 2, "^$", "unknown option '--frob'\nusage: "),
            (["count"], 2, "^$", "wrong number of arguments for 'count'\nusage: "),
            (["count", "-q", cab], 0, "^2\n$", "^$"),
            (["count", f"{work}/missing.cab"], 1, "^$", r"^cabfile: error 2 in CabFile: The system cannot find"),
            (["extract", cab, out], 0, "^$", "^$"),  # not a terminal: silent
        ]
        failures = []
        for arguments, status, stdout, stderr in cases:
            run = subprocess.run([tool] + arguments, capture_output=True, text=True)
            if run.returncode != status or not re.search(stdout, run.stdout) or not re.search(stderr, run.stderr):
                failures.append(f"{arguments}: {run.returncode}, {run.stdout!r}, {run.stderr!r}")
        terminal = [(["extract", cab, out], rb"^\r0/2 entries, 0\.0/2\.9 KB.*\r2/2 entries, 2\.9/2\.9 KB *\r?\n$"),
                    (["-q", "extract", cab, out], rb"^$")]
        for arguments, shown in terminal:
            got = on_terminal([tool] + arguments)
            if got[:2] != (0, b"") or not re.search(shown, got[2], re.S):
                failures.append(f"{arguments} on a terminal: {got!r}")
        for failure in failures:
            print(failure)
        return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
