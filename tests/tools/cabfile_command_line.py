#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""cabfile's statuses and streams, its progress line on a terminal, and
what list, cat, test and extract --filter give on gcab cabinets, damaged
ones too, and on a cabinet embedded in another file; output that cannot be
written, and commands ended by a signal, which leave nothing behind.
usage: cabfile_command_line.py CABFILE [CORPUS]   (exit 77: no gcab)"""
import os
import pty
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time


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


def without_checksums(cabinet):
    """The cabinet's bytes with every data block's checksum 0: none stored.
    Its first folder's blocks, for a cabinet without reserves."""
    data = bytearray(cabinet)
    at = int.from_bytes(data[36:40], "little")
    for _ in range(int.from_bytes(data[40:42], "little")):
        data[at:at + 4] = bytes(4)
        at += 8 + int.from_bytes(data[at + 4:at + 6], "little")
    return bytes(data)


def stored_cabinet(folders, files, prev=None, next=None):
    """A cabinet of stored folders, each a list of data blocks (bytes), and
    file records (name, size, offset in its folder, folder index); `prev`
    and `next` name the parts before and after it in its set."""
    import struct
    names = b"".join(n.encode() + b"\0" + b"disk\0" for n in (prev, next) if n)
    flags = (1 if prev else 0) | (2 if next else 0)
    head = 36 + len(names)
    records = b"".join(struct.pack("<IIHHHH", size, offset, folder, 0x5865, 0x6D85, 0x20) +
                       (name if isinstance(name, bytes) else name.encode()) + b"\0"
                       for name, size, offset, folder in files)
    at = head + 8 * len(folders) + len(records)
    entries, data = b"", b""
    for blocks in folders:
        entries += struct.pack("<IHH", at + len(data), len(blocks), 0)
        data += b"".join(struct.pack("<IHH", 0, len(b), len(b)) + b for b in blocks)
    total = at + len(data)
    header = b"MSCF" + struct.pack("<IIIIIBBHHHHH", 0, total, 0, head + 8 * len(folders), 0, 3, 1, len(folders),
                                   len(files), flags, 1234, 1 if prev else 0)
    return header + names + entries + records + data


def write_set(work):
    """A two-part set: continued.bin begins in set-1.cab and ends in
    set-2.cab, which holds whole.txt in a folder of its own."""
    body = bytes(range(256)) * 36
    with open(f"{work}/set-1.cab", "wb") as f:
        f.write(stored_cabinet([[body[:4000]]], [("continued.bin", 9000, 0, 0xFFFE)], next="set-2.cab"))
    with open(f"{work}/set-2.cab", "wb") as f:
        f.write(stored_cabinet([[body[4000:9000]], [b"whole\n"]],
                               [("continued.bin", 9000, 0, 0xFFFD), ("whole.txt", 6, 0, 1)], prev="set-1.cab"))


def output_failures(tool, work, cabinet, names):
    """Every command that writes to standard output fails, saying so, when
    the bytes cannot go: /dev/full, a pipe whose reader went after one byte
    (SIGPIPE ignored: EPIPE; not ignored: the signal's own end), a full
    disk. Nothing is left in TMPDIR."""
    failures = []
    scratch = tempfile.mkdtemp(dir=work)
    env = dict(os.environ, TMPDIR=scratch)
    commands = [["count", cabinet], ["list", cabinet], ["xml", cabinet], ["info", cabinet],
                ["cat", cabinet, *names], ["test", cabinet]]
    full = tempfile.mkdtemp(dir=work)
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", full],
                             capture_output=True).returncode == 0
    try:
        if mounted:  # a disk nearly full: 60 KB taken
            with open(f"{full}/filler", "wb") as f:
                f.write(bytes(60 * 1024))
        for command in commands:
            with open("/dev/full", "wb") as sink:
                run = subprocess.run([tool, *command], stdout=sink, stderr=subprocess.PIPE, env=env)
            if run.returncode != 1 or b"cannot write to standard output: No space left" not in run.stderr:
                failures.append(f"{command} > /dev/full: {run.returncode}, {run.stderr!r}")
            for ignored in (True, False):
                handler = signal.SIG_IGN if ignored else signal.SIG_DFL
                process = subprocess.Popen([tool, *command], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                           env=env, preexec_fn=lambda h=handler: signal.signal(signal.SIGPIPE, h))
                first = process.stdout.read(1)
                process.stdout.close()
                error = process.stderr.read()
                status = process.wait()
                wanted = (1, b"Broken pipe") if ignored else (-signal.SIGPIPE, b"")
                # A command whose output fits the pipe may end before its reader goes.
                if first and status != 0 and (status, wanted[1] in error) != (wanted[0], True):
                    failures.append(f"{command} | head -c1 (SIGPIPE {'ignored' if ignored else 'default'}): "
                                    f"{status}, {error!r}")
            if mounted:
                with open(f"{full}/out", "wb") as sink:
                    run = subprocess.run([tool, *command], stdout=sink, stderr=subprocess.PIPE, env=env)
                os.remove(f"{full}/out")
                if os.path.getsize(cabinet) > 8 * 1024 and command[0] in ("cat",) and run.returncode != 1:
                    failures.append(f"{command} > a full disk: {run.returncode}, {run.stderr!r}")
    finally:
        if mounted:
            subprocess.run(["umount", full])
    # A command that writes nothing to standard output does not need it.
    run = subprocess.run(["sh", "-c", 'exec >&-; exec "$0" -q extract "$1" "$2"', tool, cabinet, f"{work}/closed"],
                         capture_output=True, env=env)
    if run.returncode != 0:
        failures.append(f"extract with standard output closed: {run.returncode}, {run.stderr!r}")
    if os.listdir(scratch):
        failures.append(f"left behind in TMPDIR by failed writes: {os.listdir(scratch)}")
    return failures


def ended_by_signals(tool, work, cabinets):
    """SIGINT, SIGTERM and SIGPIPE at a few moments of extract, cat, list and
    xml, on a cabinet and on one inside a program: TMPDIR holds nothing
    afterwards."""
    failures = []
    for cabinet, name in cabinets:
        for command in (["-q", "extract", cabinet, f"{work}/killed"], ["cat", cabinet, name], ["list", cabinet],
                        ["xml", cabinet]):
            for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGPIPE):
                for moment in (0.01, 0.05, 0.2):
                    scratch = tempfile.mkdtemp(dir=work)
                    process = subprocess.Popen([tool, *command], stdout=subprocess.DEVNULL,
                                               stderr=subprocess.DEVNULL, env=dict(os.environ, TMPDIR=scratch))
                    time.sleep(moment)
                    process.send_signal(sig)
                    process.wait()
                    if os.listdir(scratch):
                        failures.append(f"{command} ended by {sig.name} after {moment} s left "
                                        f"{os.listdir(scratch)}")
                    shutil.rmtree(scratch)
    return failures


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
        flipped, cut, unsummed = f"{work}/flipped.cab", f"{work}/cut.cab", f"{work}/unsummed.cab"
        with open(unsummed, "wb") as f:
            f.write(without_checksums(whole))
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
        os.makedirs(f"{work}/case")
        for name, data in (("README", b"upper\n"), ("readme", b"lower\n")):
            with open(f"{work}/case/{name}", "wb") as f:
                f.write(data)
        case = f"{work}/case.cab"
        subprocess.run(["gcab", "-c", case, "README", "readme"], cwd=f"{work}/case", check=True)
        write_set(work)
        cp866 = "Привет\\Мир.txt".encode("cp866")  # stored without the UTF-8 flag
        with open(f"{work}/cp866.cab", "wb") as f:
            f.write(stored_cabinet([[b"cp866\n"]], [(cp866, 6, 0, 0)]))
        fifo = f"{work}/pipe.cab"  # nobody writes to it: reading it would wait for ever
        os.mkfifo(fifo)
        listed = "".join(f"{len(data):>10} | 05.03.2024 13:45:10 | {name}\n" for name, data in tree_files.items())
        usage = "^usage: cabfile "
        cases = [  # arguments, status, stdout, stderr (patterns)
            (["--help"], 0, usage, "^$"),
            (["-h"], 0, usage, "^$"),
            (["--version"], 0, r"^cabfile \d+\.\d+\.\d+\n$", "^$"),
            ([], 2, "^$", "no command given\ntry 'cabfile --help'\n$"),
            # Not a command: cabextract's line, whose operands are cabinets.
            (["frobnicate"], 1, "^$", "^cabfile: frobnicate: The system cannot find the file specified \\(2\\)\n$"),
            (["--frob", "count", cab], 2, "^$", "unknown option '--frob'\ntry 'cabfile --help'\n$"),
            (["count"], 2, "^$", "wrong number of arguments for 'count'\n"),
            (["count", "-q", cab], 0, "^2\n$", "^$"),
            (["count", f"{work}/missing.cab"], 1, "^$",
             f"^cabfile: {re.escape(work)}/missing.cab: The system cannot find the file specified \\(2\\)\n$"),
            (["count", work], 1, "^$", f"^cabfile: {re.escape(work)}: Access is denied \\(5\\)\n$"),  # a folder
            (["-q", "extract", cab, "/dev/null/out"], 1, "^$",
             "^cabfile: /dev/null/out: The system cannot find the path specified \\(3\\)\n$"),
            (["extract", cab, out, "missing.txt"], 1, "^$", "^cabfile: .*two.cab: no entry matches 'missing.txt'\n$"),
            (["extract", cab, out, tree], 1, "^$", "no entry matches '.*tree.cab'"),  # not a second cabinet
            (["extract", cab, out, "a.txt", "b.txt", "c.txt"], 2, "^$", "wrong number of arguments for 'extract'"),
            (["extract", tree, out, "sub/deep/notes.md"], 0, "^$", "^$"),  # '/' as '\\'
            (["info", tree, "sub/deep/none"], 1, "^$", "no entry named 'sub/deep/none'"),
            (["xml", tree, "none"], 1, "^$", "no entry named 'none'"),
            (["extract", cab, out], 0, "^$", "^$"),  # not a terminal: silent
            (["list", tree], 0, f"^{re.escape(listed)}$", "^$"),
            (["list", tree, "a.txt"], 2, "^$", "wrong number of arguments for 'list'"),
            (["list", f"{work}/missing.cab"], 1, "^$", "missing.cab: The system cannot find the file specified \\(2\\)"),
            (["cat", tree, "a.txt"], 0, "^alpha\n$", "^$"),
            (["cat", tree, "sub/b.txt", "A.TXT"], 0, "^bravo\nalpha\n$", "^$"),  # any case, either separator
            (["cat", tree, "SUB\\DEEP\\C.TXT"], 0, "^$", "^$"),  # an empty entry
            (["cat", tree, "a.txt", "b.txt"], 1, "^$", f"^cabfile: {re.escape(tree)}: no entry matches 'b.txt'\n$"),
            (["cat", cab], 0, "^x{3005}$", "^$"),  # every entry, in cabinet order
            (["cat", tree, "sub/*", "?.txt"], 0, "^bravo\nnotes\nalpha\n$", "^$"),  # each pattern's in turn
            (["cat", case, "README", "readme"], 0, "^upper\nlower\n$", "^$"),  # the exact name first
            (["cat", case, "Readme"], 0, "^upper\nlower\n$", "^$"),  # else any case
            (["cat", flipped, "a.txt", "big.bin"], 1, "^$",  # no partial bytes
             f"^cabfile: {re.escape(flipped)}: 'big.bin': Data error \\(cyclic redundancy check\\) \\(23\\)\n$"),
            (["cat", cut, "big.bin"], 1, "^$", "'big.bin': Invalid data \\(13\\)"),
            # A listing reads the header and records alone: data cut short does not stop it.
            (["count", cut], 0, "^5\n$", "^$"),
            (["list", cut], 0, f"^{re.escape(listed)}$", "^$"),
            (["test", tree], 0, f"^{re.escape(tree)}: 5 entries whole, every checksum right\n$", "^$"),
            (["test", flipped, tree], 1, f"^{re.escape(tree)}: 5 entries",
             f"^cabfile: {re.escape(flipped)}: entry 'big.bin': checksum mismatch\n$"),
            (["test", cut], 1, "^$", "entry 'big.bin': the cabinet is cut short"),
            (["test", unsummed], 0, f"^{re.escape(unsummed)}: 5 entries whole, every checksum stored right; "
             "4 data blocks carry no checksum\n$", "^$"),
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
            (["cat", damaged_exe, "big.bin"], 1, "^$", "damaged.exe: 'big.bin': Data error .* \\(23\\)"),
            (["count", no_cab], 1, "^$", "nothing.exe: Invalid data \\(13\\)"),
            (["count", fifo], 1, "^$", "pipe.cab: Invalid data \\(13\\)"),
            (["test", fifo], 1, "^$", "is not a regular file"),
            (["count", "-F", "*", tree], 2, "^$", "'--filter' belongs to 'extract' only"),
            (["extract", "-F", "*", tree, out, "a.txt"], 2, "^$", "wrong number of arguments for 'extract'"),
            (["extract", tree, out, "-F"], 2, "^$", "'-F' needs a value"),
            (["extract", "--filter", "*.bin", flipped, out], 1, "^$", "'big.bin': Data error .* \\(23\\)"),
            (["extract", "-F", "*.none", "-F", "*.txt", tree, out], 1, "^$", "^cabfile: .*: no entry matches '\\*.none'\n$"),
            (["-q", "extract", case, f"{work}/folded"], 1, "^$",
             "'readme' and 'README' differ only in case and would be one file"),
            (["list", f"{work}/set-2.cab"], 0, "^ +9000 \\| .* \\| continued.bin\n +6 \\| .* \\| whole.txt\n$", "^$"),
            (["test", f"{work}/set-2.cab"], 0, "set-2.cab: 1 entry whole",
             "^cabfile: .*set-2.cab: not tested, as they continue from set-1.cab, the part before: 'continued.bin'\n$"),
            (["-q", "extract", f"{work}/set-2.cab", out], 1, "^$",
             "'continued.bin' continues from set-1.cab, the part before; extract it from the set's first part"),
            # cabextract's line.
            (["-v"], 0, r"^cabfile \d+\.\d+\.\d+\n$", "^$"),
            (["-d"], 2, "^$", "'-d' needs a value"),
            (["-d", out], 2, "^$", "no cabinet given"),
            (["-e", "NO-SUCH-CODE-PAGE", cab], 2, "^$", "unknown encoding 'NO-SUCH-CODE-PAGE'"),
            (["-q", "-d", out, cab, tree], 0, "^$", "^$"),  # several cabinets
            (["-d", f"{work}/lines", cab], 0,
             f"^Extracting cabinet: {re.escape(cab)}\n  extracting {re.escape(work)}/lines/a.txt\n"
             f"  extracting {re.escape(work)}/lines/sub/b.txt\n\nAll done, no errors.\n$", "^$"),
            (["-l", tree], 0, f"^Viewing cabinet: {re.escape(tree)}\n File size \\| Date       Time     \\| Name\n"
             f"-----------\\+---------------------\\+-------------\n{re.escape(listed)}\nAll done, no errors.\n$", "^$"),
            (["-ql", "-F", "*.md", tree], 0, "^ File size .*\n-+\\+.*\n +6 \\| 05.03.2024 13:45:10 \\| sub/deep/notes.md\n$",
             "^$"),
            (["-p", "-F", "*.md", tree, "-F", "a.*"], 0, "^alpha\nnotes\n$", "^$"),
            (["-t", tree], 0, "5 entries whole", "^$"),
            (["-q", "-d", out, "-F", "*.none", tree], 1, "^$", "^cabfile: no entry matches '\\*.none'\n$"),
            (["-q", "-d", out, flipped, cab], 1, "^$",  # past the damaged entry, to the next cabinet
             f"^cabfile: {re.escape(flipped)}: 'big.bin': Data error \\(cyclic redundancy check\\) \\(23\\)\n$"),
            (["-qsd", out, cab], 0, "^$", "^cabfile: -s: .* -s changes nothing\n$"),
            (["-qfd", out, cab], 0, "^$", "^cabfile: -f: .* damaged headers are not salvaged\n$"),
            (["-q", "-L", "-d", out, case], 0, "^$", "'README' and 'readme' are both readme; the later is kept"),
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
        # A folder we may not write in, as a user who may not (root may write anywhere).
        if os.geteuid() == 0 and shutil.which("setpriv"):
            locked = f"{work}/locked"
            os.makedirs(locked)
            os.chmod(locked, 0o555)
            os.chmod(work, 0o755)
            for arguments in (["-q", "extract", cab, locked], ["-q", "-d", f"{locked}/sub", cab]):
                run = subprocess.run(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", tool, *arguments],
                                     capture_output=True, text=True, env=dict(os.environ, HOME=work))
                if run.returncode != 1 or not re.fullmatch(r"cabfile: .*locked(/sub)?: Access is denied \(5\)\n",
                                                           run.stderr):
                    failures.append(f"{arguments} as nobody: {run.returncode}, {run.stderr!r}")
        trees = [  # the command line up to the output folder, then the cabinet; the tree it gives
            (["-q", "-d"], case, {"README": b"upper\n", "readme": b"lower\n"}),  # names that differ in case: both
            (["-qLd"], case, {"readme": b"lower\n"}),  # one name in lower case: the later, as cabextract
            (["-q", "extract", case], "", {"README": b"upper\n"}),  # our line: the first, and exit 1
            (["-q", "-d"], f"{work}/set-1.cab", {"continued.bin": (bytes(range(256)) * 36)[:9000],
                                                 "whole.txt": b"whole\n"}),  # the whole set
            (["-q", "-d"], f"{work}/set-2.cab", {"whole.txt": b"whole\n"}),
            (["-q", "-e", "CP866", "-d"], f"{work}/cp866.cab", {"Привет/Мир.txt": b"cp866\n"}),
            (["-q", "-d"], f"{work}/cp866.cab", {os.fsdecode("Привет/Мир.txt".encode("cp866")): b"cp866\n"}),  # as stored
        ]
        for arguments, cabinet, wanted in trees:
            target = tempfile.mkdtemp(dir=work)
            # cabextract's line names the folder before the cabinet; ours after it.
            command = [tool, *arguments, target, cabinet] if cabinet else [tool, *arguments, target]
            run = subprocess.run(command, capture_output=True)
            got = {os.path.relpath(os.path.join(d, f), target): open(os.path.join(d, f), "rb").read()
                   for d, _, fs in os.walk(target) for f in fs}
            if got != wanted:
                failures.append(f"{arguments} {cabinet}: {run.returncode}, {sorted(got)}, {run.stderr!r}")
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
            (["*.TXT?"], set()),  # matches nothing: an error
            (["*.[t]xt"], {"a.txt", "Sub/B.TXT", "sub/deep/c.txt"}),  # a class, in any case
            (["[!a]*.txt", "*.[m-n]d"], {"Sub/B.TXT", "sub/deep/c.txt", "sub/deep/notes.md"}),
            (["[^s]*"], {"a.txt", "big.bin"}),
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
            if run.returncode != (0 if names else 1) or set(got) != set(wanted) or any(
                    open(path, "rb").read() != wanted[name] for name, path in got.items()):
                failures.append(f"{arguments}: {run.returncode}, {sorted(got)}, {run.stderr!r}")
        # Large enough for the writes and the signals to land mid-way.
        os.makedirs(f"{work}/large")
        with open(f"{work}/large/large.bin", "wb") as f:
            f.write(os.urandom(6 << 20))
        large = f"{work}/large.cab"
        subprocess.run(["gcab", "-c", "-z", large, "large.bin"], cwd=f"{work}/large", check=True)
        large_exe = f"{work}/large.exe"
        with open(large_exe, "wb") as f:
            f.write(false_headers + open(large, "rb").read())
        failures += output_failures(tool, work, large, ["large.bin"])
        failures += output_failures(tool, work, exe, ["big.bin", "a.txt"])
        failures += ended_by_signals(tool, work, [(large, "large.bin"), (large_exe, "large.bin")])
        for failure in failures:
            print(failure)
        return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
