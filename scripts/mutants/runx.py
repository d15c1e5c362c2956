#!/usr/bin/env python3
"""Explorer mutants: runs the explorer's four test programs per id, records failing functions."""
import subprocess, sys, json, re, os, time, signal
from faultids import ids_to_run
from concurrent.futures import ThreadPoolExecutor
build, out = sys.argv[1], sys.argv[2]
ids = ids_to_run(sys.argv[3:], out)
progs = ['test_explorer', 'test_explorer_edit', 'test_explorer_find', 'test_explorer_compare']
def one(prog, i):
    env = dict(os.environ, ZMUT=str(i), QT_QPA_PLATFORM='offscreen', QT_LOGGING_RULES='qt.qpa.*=false')
    p = subprocess.Popen([f'{build}/tests/explorer/{prog}'], env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                         text=True, errors='replace', start_new_session=True)
    try:
        so, _ = p.communicate(timeout=90); hung = False
    except subprocess.TimeoutExpired:
        hung = True
    try: os.killpg(p.pid, signal.SIGKILL)
    except ProcessLookupError: pass
    if hung:
        so, _ = p.communicate()
        return [f'{prog}:hung']
    fails = sorted(set(re.findall(r'^FAIL!\s+:\s+\w+::(\w+)\(', so, re.M)))
    res = [f'{prog}.{f}' for f in fails]
    if p.returncode != 0 and not fails:
        res.append(f'{prog}:crash')
    return res
for i in ids:
    t = time.time()
    with ThreadPoolExecutor(2) as ex:
        r = list(ex.map(lambda pr: one(pr, i), progs))
    failed = [x for xs in r for x in xs]
    with open(out, 'a') as f:
        f.write(json.dumps({'id': i, 'failed': failed, 'secs': round(time.time() - t)}) + '\n')
