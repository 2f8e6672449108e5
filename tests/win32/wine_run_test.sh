#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# scripts/wine-run starts a program again only when it provably never began:
# a program that began and failed runs once; a file that holds the start
# mark's name but never loads runs three times, each retry logged.
#
#   wine_run_test.sh WINE-RUN FAILS_AFTER_START.exe
set -uo pipefail
wine_run=$1 began=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export WINE_RUN_LOG=$scratch/retries.log
fail() { echo "wine_run_test: $*" >&2; exit 1; }

"$wine_run" "$began" >/dev/null 2>&1
status=$?
[ "$status" -eq 1 ] || fail "a program that began and failed: status $status, not 1"
[ ! -e "$WINE_RUN_LOG" ] || fail "a program that began was started again: $(cat "$WINE_RUN_LOG")"

# The head of a real program, then the mark's name: Wine cannot load it.
head -c 512 "$began" >"$scratch/never_begins.exe"
printf 'V\0A\0R\0N\0H\0O\0L\0T\0_\0S\0T\0A\0R\0T\0_\0M\0A\0R\0K\0' >>"$scratch/never_begins.exe"
"$wine_run" "$scratch/never_begins.exe" >/dev/null 2>&1 && fail "a program that cannot load ended well"
retries=$(grep -c 'before it began' "$WINE_RUN_LOG" 2>/dev/null)
[ "$retries" = 2 ] || fail "a program that never began was retried ${retries:-0} times, not 2"
echo "wine_run_test: began and failed: run once; never began: run three times, 2 retries logged"
