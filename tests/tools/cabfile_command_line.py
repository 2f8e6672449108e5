#!/usr/bin/env python3
"""cabfile's statuses and streams, its progress line on a terminal, and
what list, cat, test and extract --filter give on gcab cabinets, damaged
ones too, and on a cabinet embedded in another file.
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
        # An MSZIP cabinet in folders, with a last entry large enough for
        # several data blocks, and copies of it damaged there.
        tree_files = {"a.txt": b"alpha\n", "Sub/B.TXT": b"bravo\n", "sub/deep/c.txt": b"",
                      "sub/deep/notes.md": b"notes\n", "big.bin": os.urandom(100000)}
        for name, data in tree_files.items():
            os.makedirs(os.path.dirname(f"{work}/tree/{name}"), exist_ok=True)
            with open(f"{work}/tree/{name}", "wb") as f:
                f.write(data)
            os.utime(f"{work}/tree/{name}", (1709646310, 1709646310))  # 05.03.2024 13:45:10 UTC
        tree = f"{work}/tree.cab"
        subprocess.run(["gcab", "-c", "-z", tree, *tree_files], cwd=f"{work}/tree", check=True,
                       env=dict(os.environ, TZ="UTC"))
        with open(tree, "rb") as f:
            whole = f.read()
        flipped, cut = f"{work}/flipped.cab", f"{work}/cut.cab"
        with open(flipped, "wb") as f:
            f.write(whole[:-2000] + bytes([whole[-2000] ^ 0xFF]) + whole[-1999:])
        with open(cut, "wb") as f:
            f.write(whole[:-3000])
        # A self-extracting program's shape: code holding a false "MSCF"
        # (its cbCabinet runs past the file's end), another with a bad
        # version, then the cabinet, then more bytes.
        false_headers = (b"MZ" + bytes(200) + b"MSCF" + bytes(4) + (10**8).to_bytes(4, "little") + bytes(40) +
                         b"MSCF" + bytes(20) + b"\x03\x02" + bytes(60))
        exe, damaged_exe, no_cab = f"{work}/setup.exe", f"{work}/damaged.exe", f"{work}/nothing.exe"
        for path, inner in ((exe, whole), (damaged_exe, open(flipped, "rb").read()), (no_cab, b"")):
            with open(path, "wb") as f:
                f.write(false_headers + inner + b"\0trailing data" * 50)
        fifo = f"{work}/pipe.cab"  # nobody writes to it: reading it would wait for ever
        os.mkfifo(fifo)
        listed = "".join(f"{len(data):>10} | 05.03.2024 13:45:10 | {name}\n" for name, data in tree_files.items())
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
            (["list", tree], 0, f"^{re.escape(listed)}$", "^$"),
            (["list", tree, "a.txt"], 2, "^$", "wrong number of arguments for 'list'"),
            (["list", f"{work}/missing.cab"], 1, "^$", "error 2 in CabFile"),
            (["cat", tree, "a.txt"], 0, "^alpha\n$", "^$"),
            (["cat", tree, "sub/b.txt", "A.TXT"], 0, "^bravo\nalpha\n$", "^$"),  # any case, either separator
            (["cat", tree, "SUB\\DEEP\\C.TXT"], 0, "^$", "^$"),  # an empty entry
            (["cat", tree, "a.txt", "b.txt"], 1, "^$", f"^cabfile: no entry named 'b.txt' in {re.escape(tree)}\n$"),
            (["cat", tree], 2, "^$", "wrong number of arguments for 'cat'"),
            (["cat", flipped, "a.txt", "big.bin"], 1, "^$", "error 23 in CabFile"),  # no partial bytes
            (["cat", cut, "big.bin"], 1, "^$", "error 13 in CabFile"),
            (["test", tree], 0, f"^{re.escape(tree)}: 5 entries whole, every checksum right\n$", "^$"),
            (["test", flipped, tree], 1, f"^{re.escape(tree)}: 5 entries",
             f"^cabfile: {re.escape(flipped)}: entry 'big.bin': checksum mismatch\n$"),
            (["test", cut], 1, "^$", "entry 'big.bin': the cabinet is cut short"),
            (["test", f"{work}/missing.cab"], 1, "^$", "cannot open .*missing.cab"),
            (["test", no_cab], 1, "^$", "is not a cabinet and holds none"),
            (["test"], 2, "^$", "wrong number of arguments for 'test'"),
            (["count", exe], 0, "^5\n$", "^$"),
            (["list", exe], 0, f"^{re.escape(listed)}$", "^$"),
            (["info", exe, "sub\\deep\\notes.md"], 0, r"^sub\\deep\\notes\.md\t3/5/2024 1:45:10 PM\t6\n$", "^$"),
            (["xml", exe], 0, r"(?s)^<\?xml version=\"1\.0\"\?><CABFILE CABFILENAME = '[^']*\\setup\.exe'><FILES><FILE>"
             r"<FULLNAME>a\.txt</FULLNAME>.*<FULLNAME>big\.bin</FULLNAME>.*</FILES></CABFILE>\n$", "^$"),
            (["xml", exe, "B.TXT"], 0, r"^<\?xml version=\"1\.0\"\?><CABFILE CABFILENAME = '[^']*\\setup\.exe'><FILES>"
             r"<FILE><FULLNAME>Sub\\B\.TXT</FULLNAME>[^\n]*</FILE>\n</FILES></CABFILE>\n$", "^$"),
            (["cat", exe, "sub/b.txt", "a.txt"], 0, "^bravo\nalpha\n$", "^$"),
            (["test", exe], 0, "^.*setup.exe: 5 entries whole", "^$"),
            (["test", damaged_exe], 1, "^$", "entry 'big.bin': checksum mismatch"),
            (["cat", damaged_exe, "big.bin"], 1, "^$", "error 23 in CabFile"),
            (["count", no_cab], 1, "^$", "error 13 in CabFile"),
            (["count", fifo], 1, "^$", "error 13 in CabFile"),
            (["test", fifo], 1, "^$", "is not a regular file"),
            (["count", "-F", "*", tree], 2, "^$", "'--filter' belongs to 'extract' only"),
            (["extract", "-F", "*", tree, out, "a.txt"], 2, "^$", "wrong number of arguments for 'extract'"),
            (["extract", tree, out, "-F"], 2, "^$", "'-F' needs a pattern"),
            (["extract", "--filter", "*.bin", flipped, out], 1, "^$", "error 23 in CabFile"),
        ]
        failures = []
        # Copies of embedded cabinets go to a private folder under TMPDIR,
        # which must be gone once the command is.
        scratch = tempfile.mkdtemp(dir=work)
        for arguments, status, stdout, stderr in cases:
            run = subprocess.run([tool] + arguments, capture_output=True, text=True, timeout=20,
                                 env=dict(os.environ, TMPDIR=scratch, TZ="UTC"))
            if run.returncode != status or not re.search(stdout, run.stdout) or not re.search(stderr, run.stderr):
                failures.append(f"{arguments}: {run.returncode}, {run.stdout!r}, {run.stderr!r}")
        if os.listdir(scratch):
            failures.append(f"left behind in TMPDIR: {os.listdir(scratch)}")
        terminal = [(["extract", cab, out], rb"^\r0/2 entries, 0\.0/2\.9 KB.*\r2/2 entries, 2\.9/2\.9 KB *\r?\n$"),
                    (["-q", "extract", cab, out], rb"^$"),
                    (["extract", "-F", "*.txt", tree, out], rb"\r3/3 entries, 12/12 B *\r?\n$")]
        for arguments, shown in terminal:
            got = on_terminal([tool] + arguments)
            if got[:2] != (0, b"") or not re.search(shown, got[2], re.S):
                failures.append(f"{arguments} on a terminal: {got!r}")
        filtered = [  # patterns, the entries extracted (from the cabinet, or from setup.exe)
            (["*.txt"], {"a.txt", "Sub/B.TXT", "sub/deep/c.txt"}),  # '*' crosses folders
            (["SUB/*"], {"Sub/B.TXT", "sub/deep/c.txt", "sub/deep/notes.md"}),
            (["sub\\deep\\*"], {"sub/deep/c.txt", "sub/deep/notes.md"}),  # '\\' as '/'
            (["?.txt"], {"a.txt"}),
            (["sub/?.TXT", "*.md"], {"Sub/B.TXT", "sub/deep/notes.md"}),  # repeated: any one
            (["*i*.bin*"], {"big.bin"}),
            (["*.TXT?"], set()),
            (["*"], set(tree_files)),
            (["*.txt"], {"a.txt", "Sub/B.TXT", "sub/deep/c.txt"}, exe),
        ]
        for patterns, names, *source in filtered:
            target = tempfile.mkdtemp(dir=work)
            arguments = [a for pattern in patterns for a in ("--filter", pattern)] + ["extract", *(source or [tree]),
                                                                                      target]
            run = subprocess.run([tool] + arguments, capture_output=True)
            # Folders are found ignoring case, so sub\\deep lands in Sub/deep.
            got = {os.path.relpath(os.path.join(d, f), target).lower(): os.path.join(d, f)
                   for d, _, fs in os.walk(target) for f in fs}
            wanted = {name.lower(): tree_files[name] for name in names}
            if run.returncode != 0 or set(got) != set(wanted) or any(
                    open(path, "rb").read() != wanted[name] for name, path in got.items()):
                failures.append(f"{arguments}: {run.returncode}, {sorted(got)}, {run.stderr!r}")
        for failure in failures:
            print(failure)
        return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
