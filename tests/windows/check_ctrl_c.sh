#!/bin/sh
# Ctrl-C typed in a console stops zarnik.exe as SIGINT stops zarnik: exit
# 130, the pack as it was, no temporary file left. A console control event
# cannot be raised from inside Wine's test programs, so the key is typed
# here, into a terminal that Wine's console reads: `script` gives the
# program one, and ^C goes in once the temporary file shows that the work
# has begun.
# usage: check_ctrl_c.sh ZARNIK_EXE WINE_COMMAND...
set -u
exe=$1; shift
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
failures=0
win() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }

# $1: what is tried; $2: the file whose appearance says the work has begun;
# the rest: the tool's arguments. Checks exit 130, the words, and that no
# temporary file is left in the work folder.
interrupt() {
    what=$1 partial=$2; shift 2
    command="$*"
    # Waits at most a minute for the work to begin, so that a run that
    # ends first still ends the test.
    { i=0; while [ ! -e "$partial" ] && [ $i -lt 3000 ]; do sleep 0.02; i=$((i + 1)); done; printf '\003'; } |
        timeout 300 script -qec "$command" /dev/null >"$work/screen" 2>&1
    status=$?
    # What the console drew: its cursor moves stand for spaces too.
    sed 's/\x1b\[1C/ /g; s/\x1b\[[0-9;?]*[a-zA-Z]//g' "$work/screen" >"$work/said"
    left=$(find "$work" -name '*.zarnik-partial*')
    if [ "$status" != 130 ] || ! tr -d ' ' <"$work/said" | grep -q 'interruptedbySIGINT' || [ -n "$left" ]; then
        echo "FAIL: $what: exit $status, left: ${left:-nothing}"; cat "$work/said"
        failures=$((failures + 1))
    fi
}

tool="$* $exe"
mkdir -p "$work/src" && head -c 4096 /dev/urandom >"$work/src/small.bin" &&
    head -c 200M /dev/urandom >"$work/big.bin" || exit 1
$tool create "$(win "$work/p.upk")" "$(win "$work/src")" >/dev/null || { echo "FAIL: create"; exit 1; }
cp "$work/p.upk" "$work/before.upk"
interrupt "add while the new pack is written" "$work/p.upk.zarnik-partial" \
    "$tool add --store '$(win "$work/p.upk")' '$(win "$work/big.bin")'"
cmp -s "$work/p.upk" "$work/before.upk" || { echo "FAIL: the interrupted add changed the pack"; failures=$((failures + 1)); }

$tool add --store "$(win "$work/p.upk")" "$(win "$work/big.bin")" >/dev/null || { echo "FAIL: add"; exit 1; }
interrupt "extract while a file is written" "$work/out/content/big.bin.zarnik-partial" \
    "$tool extract '$(win "$work/p.upk")' -C '$(win "$work/out")'"
[ ! -e "$work/out/content/big.bin" ] || { echo "FAIL: the interrupted file was published"; failures=$((failures + 1)); }
exit "$failures"
