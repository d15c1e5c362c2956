#!/usr/bin/env python3
"""Which tests catch which faults: per test, the faults it fails on and those no other test
catches; with -v, the faults no test caught.
usage: analyze.py FAULTS.json RESULTS.jsonl [-v]"""
import json, sys, collections
ms = {m['id']: m for m in json.load(open(sys.argv[1]))}
rs = [json.loads(l) for l in open(sys.argv[2])]
kills = collections.defaultdict(set)
alive = []
for r in rs:
    if not r['failed'] and not r.get('hung'):
        alive.append(r['id'])
    for t in r['failed']:
        kills[t].add(r['id'])
print(f"{len(rs)} run, {len(rs)-len(alive)} killed, {len(alive)} alive")
allt = sorted(kills, key=lambda t: len(kills[t]))
for t in allt:
    others = set().union(*(kills[o] for o in kills if o != t))
    uniq = kills[t] - others
    print(f"{len(kills[t]):4d} kills {len(uniq):3d} unique  {t}  {sorted(uniq)}")
if '-v' in sys.argv:
    for i in alive:
        m = ms[i]; print('ALIVE', i, m['file'], m['line'], m['kind'], m['old'][:100])
