#!/bin/sh
# Peak memory and speed of the tool on big files: `extract` and `test` of a
# pack holding one 1 GiB packed file (-j 1, 2, 8), `cat` of a 500 MiB stored
# file, a 3 GiB file of zeros extracted and tested under `ulimit -v 1000000`,
# and -j 2 against -j 1 on tmpfs for two kinds of 1 GiB packed file: text
# that packs twelve times over, where writing to tmpfs sets the pace, and
# words that pack to about 60%, where unpacking does. Peak RSS in KiB from
# /usr/bin/time -f %M.
# Usage: bench/bench_big_files.sh [path/to/zarnik] [work dir, default /dev/shm]
set -eu
ZARNIK=${1:-build/cli/zarnik}
WORK=$(mktemp -d "${2:-/dev/shm}/zarnik-big.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

mkdir -p "$WORK/packed/sub" "$WORK/words" "$WORK/stored" "$WORK/zeros"
# 1 GiB of text that packs a few times over, as game scripts and tables do.
python3 - "$WORK/packed/sub/big.txt" <<'PY'
import sys
line = b"zarnik pack folder file export block window stream worker %08d\n"
with open(sys.argv[1], "wb") as f:
    chunk = b"".join(line % i for i in range(16384))
    for i in range((1 << 30) // len(chunk) + 1):
        f.write(chunk[: min(len(chunk), (1 << 30) - i * len(chunk))])
PY
# 1 GiB of words drawn from 5,000 made-up ones: unpacking costs more than
# writing the bytes out.
python3 - "$WORK/words/words.txt" <<'PY'
import random, sys
random.seed(7)
letters = b"abcdefghijklmnopqrstuvwxyz"
words = [bytes(random.choice(letters) for _ in range(random.randint(2, 9))) for _ in range(5000)]
with open(sys.argv[1], "wb") as f:
    left = 1 << 30
    while left:
        line = (b" ".join(random.choice(words) for _ in range(200000)) + b"\n")[:left]
        f.write(line)
        left -= len(line)
PY
head -c $((500 << 20)) /dev/urandom > "$WORK/stored/big.bin"
truncate -s 3G "$WORK/zeros/zeros.bin"
"$ZARNIK" create "$WORK/packed.upk" "$WORK/packed" > /dev/null
"$ZARNIK" create "$WORK/words.upk" "$WORK/words" > /dev/null
rm -rf "$WORK/packed" "$WORK/words" # their sources hold tmpfs memory the runs need
"$ZARNIK" create --store "$WORK/stored.upk" "$WORK/stored" > /dev/null
"$ZARNIK" create "$WORK/zeros.upk" "$WORK/zeros" > /dev/null
ls -l "$WORK"/*.upk

rss() { # label, command...
    label=$1; shift
    /usr/bin/time -f "%M KiB  %e s  $label" "$@" > /dev/null 2> "$WORK/time" || echo "exit $? $label"
    tail -1 "$WORK/time"
}
for j in 1 2 8; do
    rm -rf "$WORK/out"; mkdir "$WORK/out"
    rss "extract -j $j, 1 GiB packed" "$ZARNIK" extract -q -j $j -C "$WORK/out" "$WORK/packed.upk"
done
rss "test, 1 GiB packed" "$ZARNIK" test "$WORK/packed.upk"
rss "cat, 500 MiB stored" "$ZARNIK" cat "$WORK/stored.upk" content/big.bin
rm -rf "$WORK/out"; mkdir "$WORK/out"
(ulimit -v 1000000; rss "extract under ulimit -v 1000000, 3 GiB zeros" "$ZARNIK" extract -q -C "$WORK/out" "$WORK/zeros.upk")
(ulimit -v 1000000; rss "test under ulimit -v 1000000, 3 GiB zeros" "$ZARNIK" test "$WORK/zeros.upk")
# Speed: -j 1 and -j 2 in turns, three times each, for each kind of file.
for pack in packed words; do
    for round in 1 2 3; do
        for j in 1 2; do
            rm -rf "$WORK/out"; mkdir "$WORK/out"
            rss "extract -j $j $pack.upk round $round" "$ZARNIK" extract -q -j $j -C "$WORK/out" "$WORK/$pack.upk"
        done
    done
done
