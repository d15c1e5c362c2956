#!/usr/bin/env python3
"""Hand-made faults, chosen at random, written into the sources all at once: each is
guarded by ZM(id) and only one is live in a run, the one whose id the ZMUT variable
names. One build then serves every fault.
usage: gen.py REPO OUT.json [--sample N] [--seed S] [--dirs a,b] [--start ID] [--skip file:line list]
       gen.py REPO OUT.json --from FAULTS.json   writes the faults of an earlier table again (where the
                                                  line is still as it was), to run them after a change
`git checkout -- DIRS` takes them out again."""
import re, sys, json, random, os, glob, functools
repo = sys.argv[1]; out = sys.argv[2]
args = sys.argv[3:]
N = int(args[args.index('--sample')+1]) if '--sample' in args else 150
seed = int(args[args.index('--seed')+1]) if '--seed' in args else 7
skip = set()
if '--skip' in args:
    skip = set(open(args[args.index('--skip')+1]).read().split())
files = []
dirs = args[args.index('--dirs')+1].split(',') if '--dirs' in args else ['zarnik_common', 'zarnik_pack', 'cli', 'zarnik_mount', 'zarnik_search']
start = int(args[args.index('--start')+1]) if '--start' in args else 1
for d in dirs:
    files += sorted(glob.glob(f'{repo}/{d}/*.cpp'))
files = [f for f in files if '_win32' not in f and 'Unavailable' not in f]

@functools.lru_cache(maxsize=None)
def lines(f):
    return tuple(open(f).read().split('\n'))

def balanced_close(s, i):
    """index of ')' matching '(' at i, or -1"""
    depth = 0
    for j in range(i, len(s)):
        if s[j] == '(': depth += 1
        elif s[j] == ')':
            depth -= 1
            if depth == 0: return j
    return -1

def scan_sites():
    """every place a fault can go: (file, line index, kind, new line with ZM(@))"""
    sites = []
    for f in files:
        L = lines(f)
        for i, line in enumerate(L):
            s = line.strip()
            if not s or s.startswith('//') or s.startswith('#') or s.startswith('static_assert'): continue
            nxt = next((x.strip() for x in L[i+1:] if x.strip()), '')
            # condition negation / boundary shifts in if (...)
            m = re.search(r'\bif \(', line)
            if m and 'constexpr' not in line[m.start():m.start()+14]:
                o = m.end() - 1
                c = balanced_close(line, o)
                if c > 0:
                    cond = line[o+1:c]
                    if ';' not in cond and not re.match(r'^\s*(const\s+)?(auto|[A-Za-z_:<>]+\s*[*&]?\s+\w+\s*=)', cond):
                        sites.append((f, i, 'negate-if', line[:o+1] + '!!(' + cond + ') != ZM(@)' + line[c:]))
                        for op, rep in ((' < ', ' < ZM(@) + '), (' <= ', ' <= -ZM(@) + '), (' > ', ' > -ZM(@) + '), (' >= ', ' >= ZM(@) + ')):
                            if cond.count(op) == 1 and '<<' not in cond and '>>' not in cond:
                                k = cond.index(op)
                                sites.append((f, i, 'boundary' + op.strip(), line[:o+1] + cond[:k] + rep + cond[k+len(op):] + line[c:]))
            # return true/false
            m = re.match(r'^(\s*)return (true|false);\s*$', line)
            if m:
                other = 'false' if m.group(2) == 'true' else 'true'
                sites.append((f, i, 'flip-return', f'{m.group(1)}return ZM(@) ? {other} : {m.group(2)};'))
            # boolean return expression
            m = re.match(r'^(\s*)return (.+ (==|!=|<|<=|>|>=|&&|\|\|) .+);\s*$', line)
            if m and '?' not in m.group(2) and '{' not in m.group(2) and '"' not in m.group(2):
                sites.append((f, i, 'negate-return', f'{m.group(1)}return !!({m.group(2)}) != ZM(@);'))
            # statement deletion: a call on one line
            m = re.match(r'^(\s*)((\+\+|--)?[A-Za-z_][\w:]*((\.|->)\w+)*(\+\+|--)?(\(.*\))?);\s*$', line)
            if m and not s.startswith(('return', 'break', 'continue', 'case', 'default', 'goto', 'delete', 'throw', 'using', 'typedef')) \
               and not nxt.startswith('else') and ('(' in s or s.startswith(('++', '--')) or s.endswith(('++;', '--;'))) \
               and not re.match(r'^[A-Za-z_][\w:<>]*\s+[A-Za-z_]', s) and line.count('(') == line.count(')') \
               and not L[i-1].rstrip().endswith((',', '(', '=', '&&', '||', '+', '<<', '?', ':')) and not line.rstrip().endswith(':'):
                sites.append((f, i, 'delete-stmt', f'{m.group(1)}if (!ZM(@)) {m.group(2)};'))
    return sites

def replayed(table):
    """the faults of an earlier table, where their line is still as it was"""
    faults = []
    for m in json.load(open(table)):
        f = os.path.join(repo, m['file'])
        i = m['line'] - 1
        L = lines(f)
        if i < len(L) and L[i].strip() == m['old']:
            indent = L[i][:len(L[i]) - len(L[i].lstrip())]
            faults.append((f, i, m['kind'], indent + m['new'].replace('ZM(%d)' % m['id'], 'ZM(@)'), m['id']))
        else:
            print('changed since:', m['file'], m['line'], m['id'])
    return faults

def sampled():
    """N lines chosen at random, one fault each, numbered from `start`"""
    sites = scan_sites()
    random.seed(seed)
    byline = {}
    for st in sites:
        byline.setdefault((st[0], st[1]), []).append(st)
    keys = [k for k in sorted(byline) if f'{os.path.relpath(k[0], repo)}:{k[1]+1}' not in skip]
    print(len(sites), 'sites on', len(keys), 'lines')
    chosen = sorted(random.sample(keys, min(N, len(keys))))
    return [random.choice(byline[k]) + (n,) for n, k in enumerate(chosen, start=start)]

faults = sorted(replayed(args[args.index('--from')+1]) if '--from' in args else sampled())
mutants = []
edits = {}
for f, i, kind, new, n in faults:
    new = new.replace('@', str(n))
    edits.setdefault(f, {})[i] = new
    mutants.append({'id': n, 'file': os.path.relpath(f, repo), 'line': i+1, 'kind': kind, 'old': lines(f)[i].strip(), 'new': new.strip()})
for f, ed in edits.items():
    L = list(lines(f))
    for i, new in ed.items():
        L[i] = new
    txt = '\n'.join(L)
    include = '#include "' + os.path.join(os.path.dirname(os.path.abspath(__file__)), 'zm.h') + '"'
    if include not in txt:
        txt = include + '\n' + txt
    open(f, 'w').write(txt)
json.dump(mutants, open(out, 'w'), indent=1)
print(len(mutants), 'faults in', len(edits), 'files')
