#!/usr/bin/env python3
"""`cabfile xml` on every cabinet of the shared corpus that cabextract reads
without error: the document must be well-formed (expat parses it), and list
the same entries, sizes and dates, in the same order, as `cabextract -l`.

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
part is missing fails, a cabinet that sits after other data is not a
cabinet at all (cabextract searches for it), and file records are read where
the header's coffFiles says (cabextract reads them right after the folder
records). Those are left to the cabinet service's own corpus tests.

usage: cabfile_xml_corpus.py CABFILE CORPUS_DIR   (exit 77: no corpus)
"""
import datetime
import os
import re
import subprocess
import sys
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


def main():
    cabfile, corpus = sys.argv[1], sys.argv[2]
    if not os.path.isdir(corpus):
        print("corpus not present: skipped")
        return SKIPPED
    env = dict(os.environ, LC_ALL="C")
    checked, failures = 0, []
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
            checked += 1
    for failure in failures:
        print("FAIL", failure)
    print(f"{checked} cabinets listed alike, {len(failures)} differ")
    return 1 if failures or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
