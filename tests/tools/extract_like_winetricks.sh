#!/bin/sh
# SPDX-License-Identifier: MIT
# Extracts cabinets the way a winetricks verb does, through the tool named by
# $CABEXTRACT: the whole of one cabinet, chosen entries of another by -F
# (lower-cased with -L), a set from its first part, several cabinets in one
# call, and a pattern with a class. Everything lands under OUT.
# usage: CABEXTRACT=TOOL extract_like_winetricks.sh CORPUS OUT
set -eu
corpus=$1
out=$2
cabs=$corpus/cabextract-cabs
mkdir -p "$out"

"$CABEXTRACT" -q -d "$out/whole" "$cabs/mixed.cab"
"$CABEXTRACT" -q -d "$out/chosen" -F welcome.c "$cabs/simple.cab"
"$CABEXTRACT" -q -L -d "$out/lower" -F '*/UPPER/*' "$cabs/case-ascii.cab"
"$CABEXTRACT" -q -d "$out/set" "$cabs/split-1.cab"
"$CABEXTRACT" -q -d "$out/many" "$cabs/simple.cab" "$cabs/dir.cab"
"$CABEXTRACT" -q -d "$out/class" -F '*.[ch]' "$cabs/dir.cab"
# A damaged cabinet: the script goes on, as winetricks' w_try would not.
if "$CABEXTRACT" -q -d "$out/damaged" "$corpus/libmspack-cabd/cve-2014-9732-folders-segfault.cab" 2>/dev/null; then
    echo "damaged: status 0" >"$out/status"
else
    echo "damaged: status not 0" >"$out/status"
fi
