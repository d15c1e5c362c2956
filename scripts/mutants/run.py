#!/usr/bin/env python3
"""Runs the suite (ctest) once per fault id, from the build folder; appends {"id", "failed": [...]} lines to OUT.
A run that hangs is ended after 60 s and counted with what failed until then.
usage: run.py BUILD OUT.jsonl ids... (ranges a-b allowed)"""
import subprocess, sys, json, re, os, time, signal
from faultids import ids_to_run
build, out = sys.argv[1], sys.argv[2]
ids = ids_to_run(sys.argv[3:], out)
for i in ids:
    t = time.time()
    env = dict(os.environ, ZMUT=str(i))
    p = subprocess.Popen(['ctest', '-j2', '--timeout', '15', '-E', '^packaging'], cwd=build, env=env,
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, start_new_session=True)
    try:
        so, _ = p.communicate(timeout=60)
        hung = False
    except subprocess.TimeoutExpired:
        hung = True
    try:
        os.killpg(p.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    if hung:
        so, _ = p.communicate()
    failed = sorted(set(re.findall(r'Test\s+#\d+: (\S+) \.*\s*\*\*\*', so or '')))
    with open(out, 'a') as f:
        f.write(json.dumps({'id': i, 'failed': failed, 'hung': hung, 'secs': round(time.time() - t)}) + '\n')
