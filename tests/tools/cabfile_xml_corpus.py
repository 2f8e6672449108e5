#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""`cabfile xml` and `cabfile list` on every cabinet of the shared corpus that
cabextract reads without error: the document must be well-formed (expat
parses it), and both must list the same entries, sizes and dates, in the
same order, as `cabextract -l`. `cabfile test` must pass where
`cabextract -t` does and fail, naming what is wrong, where it fails; a set
whose first part is embedded in another file must list and test as the set
does. Where cabextract also extracts without
error, `cabfile extract --filter` must write the same files, with the same
bytes, as `cabextract -F` for a few patterns made from the cabinet's names.

Names are compared in the form each tool gives them: cabextract prints
stored bytes as they are (or UTF-8 for names flagged as UTF-8), the listing
holds them decoded from Windows-1252 (with "?" for what it cannot hold, one
"?" however many bytes a broken UTF-8 sequence spans). cabextract rewrites
names that would leave its output folder ("../" becomes "xx/", leading
separators go); such names are accepted when ours holds the traversal
cabextract removed.

Some cabinets cabextract reads are not listed alike by design, because the
setup library reads cabinets otherwise: a later part of a set lists only the
entries that begin in it (cabextract joins the whole set), a set whose next
part is missing fails, a file that holds a cabinet after other data gives
only its first cabinet (cabextract goes on to any further ones), a
header whose reserved fields are not zero is not taken as a cabinet inside
another file, and file records are read where
the header's coffFiles says (cabextract reads them right after the folder
records). Those are left to the cabinet service's own corpus tests.

usage: cabfile_xml_corpus.py CABFILE CORPUS_DIR   (exit 77: no corpus)
"""
import datetime
import os
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

SKIPPED = 77
EPOCH = datetime.datetime(1601, 1, 1)
LISTING = re.compile(rb"^\s*(\d+) \| (\d\d)\.(\d\d)\.(\d{4}) (\d\d):(\d\d):(\d\d) \| (.*)$")
OUR_DATE = re.compile(r"^(?:(\d+)/(\d+)/(\d+))? ?(?:(\d+):(\d\d):(\d\d) (AM|PM))?$")


HEADER_FILES_OFFSET = 16
HEADER_FOLDER_COUNT = 26
HEADER_FLAGS = 30
FOLDER_RECORD = 8
PREVIOUS_CABINET = 0x0001
NEXT_CABINET = 0x0002
RESERVE_PRESENT = 0x0004


def read_string(data, offset):
    end = data.index(b"\0", offset)
    return data[offset:end], end + 1


def listed_alike_by_design(path):
    """Whether the setup library reads this cabinet as cabextract does."""
    with open(path, "rb") as f:
        data = f.read()
    if not data.startswith(b"MSCF") or len(data) < 36:
        return False
    # cabextract lists a cabinet of a version it does not know; the setup
    # library refuses it: 1.0 to 1.3 are the format's versions.
    if data[25] != 1 or data[24] > 3:
        return False
    flags = int.from_bytes(data[HEADER_FLAGS:HEADER_FLAGS + 2], "little")
    if flags & PREVIOUS_CABINET:
        return False
    offset = 36
    folder_reserve = 0
    if flags & RESERVE_PRESENT:
        folder_reserve = data[38]
        offset += 4 + int.from_bytes(data[36:38], "little")
    if flags & NEXT_CABINET:
        next_name, offset = read_string(data, offset)
        _, offset = read_string(data, offset)
        folder = os.path.dirname(path)
        wanted = next_name.decode("latin-1").lower()
        if not any(name.lower() == wanted for name in os.listdir(folder)):
            return False
    folders = int.from_bytes(data[HEADER_FOLDER_COUNT:HEADER_FOLDER_COUNT + 2], "little")
    files_offset = int.from_bytes(data[HEADER_FILES_OFFSET:HEADER_FILES_OFFSET + 4], "little")
    return files_offset == offset + folders * (FOLDER_RECORD + folder_reserve)


def cabextract_listing(path):
    run = subprocess.run(["cabextract", "-l", path], capture_output=True)
    if run.returncode != 0 or b"All done, no errors." not in run.stdout:
        return None
    entries = []
    for line in run.stdout.splitlines():
        match = LISTING.match(line)
        if match:
            size, day, month, year, hour, minute, second, name = match.groups()
            try:
                when = datetime.datetime(int(year), int(month), int(day), int(hour), int(minute), int(second))
            except ValueError:
                # Words that name no real moment leave the file time at zero.
                when = EPOCH
            entries.append((name, int(size), when))
    return entries


def our_date(text):
    match = OUR_DATE.match(text)
    if not match or text == "":
        raise ValueError(f"unreadable DATE {text!r}")
    month, day, year, hour, minute, second, half = match.groups()
    date = datetime.date(int(year), int(month), int(day)) if year else datetime.date(1899, 12, 30)
    if hour is None:
        return datetime.datetime.combine(date, datetime.time())
    hour = int(hour) % 12 + (12 if half == "PM" else 0)
    return datetime.datetime.combine(date, datetime.time(hour, int(minute), int(second)))


C1_KEPT = (0x81, 0x8D, 0x8F, 0x90, 0x9D)


def to_code_page(text):
    """Windows-1252 as Windows has it: the five bytes Python leaves undefined
    stand for the C1 controls of the same value."""
    out = bytearray()
    for c in text:
        try:
            out += c.encode("cp1252")
        except UnicodeEncodeError:
            out += bytes([ord(c)]) if ord(c) in C1_KEPT else b"?"
    return bytes(out)


def normalised(name_bytes):
    """Separators alike, characters no XML document may hold as "?" (as the
    listing writes them), and runs of "?" as one."""
    name_bytes = re.sub(rb"[\x00-\x08\x0b\x0c\x0e-\x1f]", b"?", name_bytes.replace(b"\\", b"/"))
    return re.sub(rb"\?+", b"?", name_bytes)


def same_name(ours, theirs):
    ours_bytes = normalised(to_code_page(ours))
    theirs_slashed = normalised(theirs)
    if ours_bytes == theirs_slashed:
        return True
    try:
        if normalised(to_code_page(theirs.decode("utf-8"))) == ours_bytes:
            return True
    except UnicodeDecodeError:
        pass
    # Names cabextract rewrote because they would leave its output folder;
    # an over-long UTF-8 "/" is a "?" in ours.
    leaves = ours.startswith(("\\", "/", "?")) or ".." in ours or ours.strip("\\/?") == ""
    slashed = ours_bytes.replace(b"?", b"/")
    return leaves and (b"xx" in theirs_slashed or theirs_slashed == b"x" or
                       theirs_slashed == slashed.lstrip(b"/"))


def extracted(folder):
    """Relative name (any case) to bytes of every file under `folder`."""
    files = {}
    for where, _, names in os.walk(folder):
        for name in names:
            with open(os.path.join(where, name), "rb") as f:
                files[os.path.relpath(os.path.join(where, name), folder).lower()] = f.read()
    return files


def filters_for(entries):
    """Patterns that take some entries and leave others: the first entry's
    last part with its first character as '?' in upper case, and '*' with
    the last entry's extension; None where a name is not plain ASCII or
    would leave the output folder (the tools rewrite such names each in its
    own way), or holds what cabextract's patterns read otherwise ([, \\)."""
    names = [name for name, _, _ in entries]
    if not names or any(not re.fullmatch(rb"[A-Za-z0-9_. -]+(/[A-Za-z0-9_. -]+)*", n) or b".." in n for n in names):
        return None
    first = names[0].decode().rsplit("/", 1)[-1]
    last = names[-1].decode().rsplit("/", 1)[-1]
    patterns = [["?" + first[1:].upper()]]
    if "." in last:
        patterns.append(["*." + last.rsplit(".", 1)[1]])
    return patterns


def compare_filters(cabfile, path, entries, env):
    """The differences between cabfile's and cabextract's filtered extraction."""
    problems = []
    for patterns in filters_for(entries) or []:
        with tempfile.TemporaryDirectory() as ours, tempfile.TemporaryDirectory() as theirs:
            their_run = subprocess.run(["cabextract", "-q", "-d", theirs] +
                                       [a for p in patterns for a in ("-F", p)] + [path], capture_output=True)
            if their_run.returncode != 0:
                continue  # cabextract fails here: nothing to compare with
            our_run = subprocess.run([cabfile, "extract"] + [a for p in patterns for a in ("--filter", p)] +
                                     [path, ours], capture_output=True, env=env, timeout=60)
            if not extracted(theirs):
                # What cabextract passes over in silence is an error naming the pattern.
                if our_run.returncode != 1 or b"no entry matches" not in our_run.stderr:
                    problems.append(f"--filter {patterns} matches nothing: {our_run.returncode}, {our_run.stderr!r}")
            elif our_run.returncode != 0:
                problems.append(f"--filter {patterns}: cabfile failed: {our_run.stderr.decode(errors='replace')}")
            elif extracted(ours) != extracted(theirs):
                problems.append(f"--filter {patterns}: {sorted(extracted(ours))} vs {sorted(extracted(theirs))}")
    return problems


def compare_test(cabfile, path, env):
    """The difference between `cabfile test` and `cabextract -t`, if any."""
    theirs = subprocess.run(["cabextract", "-t", path], capture_output=True)
    ours = subprocess.run([cabfile, "test", path], capture_output=True, env=env, timeout=60)
    if (ours.returncode == 0) != (theirs.returncode == 0):
        return f"test: {ours.returncode} ({ours.stderr!r}), cabextract -t {theirs.returncode}"
    if ours.returncode != 0 and not re.match(rb"^cabfile: .+: (entry '.+': )?[a-z]", ours.stderr):
        return f"test: {ours.stderr!r} names nothing"
    return None


def compare_embedded_set(cabfile, corpus, env):
    """The differences between the split-N set read from its first part and
    read from a copy of that part embedded in a program, beside the rest."""
    parts = [os.path.join(corpus, "cabextract-cabs", f"split-{n}.cab") for n in range(1, 6)]
    if not all(os.path.exists(part) for part in parts):
        return ["the split-N set is not in the corpus"]
    problems = []
    with tempfile.TemporaryDirectory() as work:
        for part in parts[1:]:
            with open(part, "rb") as source, open(os.path.join(work, os.path.basename(part)), "wb") as copy:
                copy.write(source.read())
        exe = os.path.join(work, "setup.exe")
        with open(parts[0], "rb") as source, open(exe, "wb") as f:
            f.write(b"MZ" + bytes(100) + b"MSCF" + bytes(60) + source.read() + b"more data" * 20)
        for command in (["list"], ["xml"], ["test"]):
            plain = subprocess.run([cabfile, *command, parts[0]], capture_output=True, env=env, timeout=60)
            embedded = subprocess.run([cabfile, *command, exe], capture_output=True, env=env, timeout=60)
            if command == ["xml"]:  # the documents differ in the cabinet's name only
                plain.stdout, named = re.subn(rb"CABFILENAME = '[^']*'", b"", plain.stdout, 1)
                embedded.stdout, named_exe = re.subn(rb"CABFILENAME = '[^']*\\setup\.exe'", b"", embedded.stdout, 1)
                if (named, named_exe) != (1, 1):
                    problems.append("xml of the embedded set: not named as the file given")
            if command == ["test"]:
                embedded.stdout = embedded.stdout.replace(exe.encode(), parts[0].encode())
            if plain.returncode != 0 or (embedded.returncode, embedded.stdout) != (0, plain.stdout):
                problems.append(f"{command[0]} of the embedded set: {embedded.returncode}, {embedded.stderr!r}")
    return problems


def main():
    cabfile, corpus = sys.argv[1], sys.argv[2]
    if not os.path.isdir(corpus):
        print("corpus not present: skipped")
        return SKIPPED
    env = dict(os.environ, LC_ALL="C")
    checked, filtered, failures = 0, 0, []
    for folder, _, names in sorted(os.walk(corpus)):
        for name in sorted(names):
            if not name.endswith(".cab"):
                continue
            path = os.path.join(folder, name)
            expected = cabextract_listing(path)
            if expected is None or not listed_alike_by_design(path):
                continue
            label = os.path.relpath(path, corpus)
            run = subprocess.run([cabfile, "xml", path], capture_output=True, env=env, timeout=60)
            if run.returncode != 0:
                failures.append(f"{label}: cabfile failed: {run.stderr.decode(errors='replace').strip()}")
                continue
            try:
                root = ElementTree.fromstring(run.stdout)
            except ElementTree.ParseError as error:
                failures.append(f"{label}: not well-formed: {error}")
                continue
            files = root.find("FILES")
            listed = [(f.findtext("FULLNAME"), int(f.findtext("SIZE")), our_date(f.findtext("DATE")))
                      for f in files.findall("FILE")]
            if len(listed) != len(expected):
                failures.append(f"{label}: {len(listed)} entries, cabextract lists {len(expected)}")
                continue
            for (ours, size, when), (theirs, their_size, their_when) in zip(listed, expected):
                # cabextract lists sizes unsigned; the listing writes them signed.
                if size % 2**32 != their_size or when != their_when or not same_name(ours, theirs):
                    failures.append(f"{label}: {ours!r} {size} {when} vs {theirs!r} {their_size} {their_when}")
                    break
            run = subprocess.run([cabfile, "list", path], capture_output=True, env=env, timeout=60)
            lines = [LISTING.match(line) for line in run.stdout.splitlines()]
            if run.returncode != 0 or None in lines or len(lines) != len(expected):
                failures.append(f"{label}: list: {run.returncode}, {len(lines)} lines, {run.stderr!r}")
            else:
                for match, (theirs, their_size, their_when) in zip(lines, expected):
                    size, day, month, year, hour, minute, second, ours = match.groups()
                    when = datetime.datetime(int(year), int(month), int(day), int(hour), int(minute), int(second))
                    if int(size) != their_size or when != their_when or not same_name(ours.decode(), theirs):
                        failures.append(f"{label}: list: {match.group(0)!r} vs {theirs!r} {their_size} {their_when}")
                        break
            failures += [f"{label}: {problem}" for problem in compare_filters(cabfile, path, expected, env)]
            tested_problem = compare_test(cabfile, path, env)
            if tested_problem:
                failures.append(f"{label}: {tested_problem}")
            filtered += 1 if filters_for(expected) else 0
            checked += 1
    failures += compare_embedded_set(cabfile, corpus, env)
    for failure in failures:
        print("FAIL", failure)
    print(f"{checked} cabinets listed alike ({filtered} also extracted through filters), {len(failures)} differ")
    return 1 if failures or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
