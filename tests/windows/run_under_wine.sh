#!/bin/sh
# Runs one of the test programs under Wine, the way CTest runs it:
# usage: run_under_wine.sh WINE_COMMAND... PROGRAM ARGUMENTS...
#
# On a busy machine Wine now and then fails to start a program at all: it
# exits 1 within a few hundredths of a second, printing nothing, before the
# program's first line ran. Only that is tried again. Each test program makes
# the file named in ZARNIK_STARTED as it starts (StartedMark.cpp); a program
# that made it ran, and its status stands whatever it is.
set -u
mark=$(mktemp) && rm -f "$mark" || exit 1
ZARNIK_STARTED="Z:$(printf '%s' "$mark" | tr / '\\')"
export ZARNIK_STARTED
tries=1
while :; do
    "$@"
    status=$?
    if [ -e "$mark" ]; then
        rm -f "$mark"
        exit "$status"
    fi
    if [ "$tries" -ge 3 ]; then
        echo "run_under_wine.sh: Wine never started the program in $tries tries (exit status $status)" >&2
        exit "$status"
    fi
    echo "run_under_wine.sh: Wine never started the program (exit status $status); starting it again" >&2
    tries=$((tries + 1))
done
