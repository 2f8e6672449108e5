#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""cabfile on cabextract's command line against cabextract itself, on every
cabinet of the shared corpus: `-q -d OUT CAB` with each tool must give the
same tree (names byte for byte, and bytes) and the same status, zero or not,
except for the cabinets DIFFERENT lists, each for a reason README.md
explains; one listed there that no longer differs fails too, so that the
list stays true. Then rows of their own (-e, -L, -F classes, a host folder
named in Cyrillic), and a winetricks-style script run once with each tool.
usage: cabfile_cabextract_corpus.py CABFILE CORPUS   (exit 77: no corpus or no cabextract)"""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

SKIPPED = 77
HERE = os.path.dirname(os.path.abspath(__file__))

# Cabinet (relative to the corpus) -> why its tree or status differs (README.md).
DIFFERENT = {
    # Damaged data: cabextract leaves the bytes decoded before the damage; we
    # write an entry whole or not at all. Both fail.
    **{name: "partial" for name in (
        "cabextract-bugs/cve-2010-2800-mszip-infinite-loop.cab",
        "cabextract-bugs/cve-2015-4470-mszip-over-read.cab",
        "cabextract-bugs/lzx-main-tree-no-lengths.cab",
        "cabextract-bugs/lzx-premature-matches.cab",
        "cabextract-bugs/qtm-max-size-block.cab",
        "found/lzx-signed-shift.cab",
        "libarchive-test/test_read_format_cab_lzx_invalid_history.cab",
        "libmspack-cabd/cve-2010-2800-mszip-infinite-loop.cab",
        "libmspack-cabd/cve-2015-4470-mszip-over-read.cab",
        "libmspack-cabd/cve-2018-18584-qtm-max-size-block.cab",
        "libmspack-cabd/lzx-main-tree-no-lengths.cab",
        "libmspack-cabd/lzx-premature-matches.cab",
        "libmspack-cabd/multi_basic_pt1.cab",
    )},
    # A later part of a set: cabextract looks for the parts before it.
    **{name: "later-part" for name in (
        "cabextract-cabs/split-2.cab",
        "cabextract-cabs/split-3.cab",
        "cabextract-cabs/split-4.cab",
        "cabextract-cabs/split-5.cab",
        "libarchive-test/test_read_format_cab_multi.p2.cab",
    )},
    "cabextract-cabs/dirwalk-vulns.cab": "backslash",
    "cabextract-cabs/utf8-stresstest.cab": "invalid-utf8",
    "cabextract-cabs/search.cab": "first-cabinet",
    "libmspack-cabd/search_tricky1.cab": "first-cabinet",
    "libmspack-cabd/hidden-files.cab": "file-records",
}


def tree(folder):
    """Relative name (bytes) to the md5 of every file under `folder`."""
    files = {}
    for where, _, names in os.walk(os.fsencode(folder)):
        for name in names:
            path = os.path.join(where, name)
            with open(path, "rb") as f:
                files[os.path.relpath(path, os.fsencode(folder))] = hashlib.md5(f.read()).hexdigest()
    return files


def compare(cabfile, arguments, cabinet, work, env):
    """None when both tools give the same tree and status for `arguments`
    (before -d) on `cabinet`; else what differs."""
    theirs, ours = tempfile.mkdtemp(dir=work), tempfile.mkdtemp(dir=work)
    their_run = subprocess.run(["cabextract", *arguments, "-d", theirs, cabinet], capture_output=True,
                               timeout=120, env=env)
    our_run = subprocess.run([cabfile, *arguments, "-d", ours, cabinet], capture_output=True, timeout=120, env=env)
    their_tree, our_tree = tree(theirs), tree(ours)
    shutil.rmtree(theirs)
    shutil.rmtree(ours)
    if their_tree == our_tree and (their_run.returncode == 0) == (our_run.returncode == 0):
        return None
    only = sorted(set(their_tree) ^ set(our_tree))[:3]
    return (f"status {our_run.returncode} (cabextract {their_run.returncode}), {len(our_tree)} files "
            f"(cabextract {len(their_tree)}), e.g. {only}; {our_run.stderr[:300]!r}")


def main():
    cabfile, corpus = sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else ""
    if not corpus or not os.path.isdir(corpus) or shutil.which("cabextract") is None:
        return SKIPPED
    env = dict(os.environ, LC_ALL="C.UTF-8")
    failures = []
    alike = 0
    with tempfile.TemporaryDirectory() as work:
        cabinets = sorted(os.path.relpath(os.path.join(where, name), corpus)
                          for where, _, names in os.walk(corpus) for name in names if name.endswith(".cab"))
        for cabinet in cabinets:
            difference = compare(cabfile, ["-q"], os.path.join(corpus, cabinet), work, env)
            alike += difference is None
            if difference and cabinet not in DIFFERENT:
                failures.append(f"{cabinet}: {difference}")
            elif not difference and cabinet in DIFFERENT:
                failures.append(f"{cabinet}: now gives cabextract's tree; take it out of DIFFERENT and README.md")
        # Names in a code page the cabinet does not say, lower case, classes,
        # and a host folder outside Windows-1252.
        cyrillic = os.path.join(work, "Привет")
        os.makedirs(cyrillic)
        shutil.copy(os.path.join(corpus, "cabextract-cabs", "simple.cab"), os.path.join(cyrillic, "s.cab"))
        rows = [
            (["-q", "-e", "CP932"], "libarchive-test/test_read_format_cab_filename_cp932.cab"),
            (["-q", "-e", "KOI8-R"], "cabextract-cabs/encoding-koi8.cab"),
            (["-q", "-e", "SHIFT_JIS"], "cabextract-cabs/encoding-sjis.cab"),
            (["-q", "-L"], "cabextract-cabs/case-utf8.cab"),
            (["-q", "-L"], "cabextract-cabs/case-ascii.cab"),
            (["-q", "-F", "*.[ch]"], "cabextract-cabs/dir.cab"),
            (["-q", "-F", "*/[!u]*/*"], "cabextract-cabs/case-utf8.cab"),
            (["-q"], os.path.join(cyrillic, "s.cab")),
        ]
        for arguments, cabinet in rows:
            difference = compare(cabfile, arguments, os.path.join(corpus, cabinet), work, env)
            if difference:
                failures.append(f"{arguments} {cabinet}: {difference}")
        # What each prints: -p the entries' bytes, -l the listing, status and all.
        # (cabextract -l also says where a set goes on, which cabfile does not.)
        printed = [(["-q", "-p"], "mixed.cab"), (["-q", "-p"], "dir.cab"), (["-q", "-p"], "split-1.cab"),
                   (["-p", "-F", "*.c"], "dir.cab"), (["-l"], "mixed.cab"), (["-q", "-l", "-F", "*/*"], "dir.cab"),
                   (["-l", "-F", "q*"], "mixed.cab")]
        for arguments, cabinet in printed:
            path = os.path.join(corpus, "cabextract-cabs", cabinet)
            theirs = subprocess.run(["cabextract", *arguments, path], capture_output=True, env=env)
            ours = subprocess.run([cabfile, *arguments, path], capture_output=True, env=env)
            if theirs.stdout != ours.stdout or (theirs.returncode == 0) != (ours.returncode == 0):
                failures.append(f"{arguments} {cabinet}: {ours.returncode} {ours.stdout[:200]!r}, "
                                f"cabextract {theirs.returncode} {theirs.stdout[:200]!r}")
        script = os.path.join(HERE, "extract_like_winetricks.sh")
        trees = []
        for tool in ("cabextract", cabfile):
            out = os.path.join(work, f"winetricks-{len(trees)}")
            run = subprocess.run(["sh", script, corpus, out], capture_output=True, env=dict(env, CABEXTRACT=tool))
            if run.returncode != 0:
                failures.append(f"the winetricks-style script with {tool}: {run.returncode}, {run.stderr!r}")
            trees.append(tree(out))
        if trees[0] != trees[1]:
            failures.append(f"the winetricks-style script: {sorted(set(trees[0]) ^ set(trees[1]))[:5]}")
    for failure in failures:
        print("FAIL", failure)
    print(f"{alike} of {len(cabinets)} cabinets give cabextract's tree and status; "
          f"{len(DIFFERENT)} differ as README.md explains")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
