#!/usr/bin/env python3
"""Mutation testing over a fixed sample of mutants of src/ and plugins/.

  scripts/mutants.py select [N]     writes scripts/mutants.txt (a seeded sample of N mutants)
  scripts/mutants.py check          tells which mutants' lines are no longer found
  scripts/mutants.py run [BUILD [N,N,...]]
                                    applies each mutant in turn, rebuilds BUILD (default
                                    build-mut, release) and runs ctest until the first failure

A mutant is one line of one file, before and after: "file<TAB>original<TAB>mutated". The line
is found by its text, so a mutant survives code being moved; a line that moves to another file
takes its entry along. Exit status is 0; the report is scripts/mutants.txt's order.
"""
import os, random, re, subprocess, sys, time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LIST = os.path.join(ROOT, 'scripts', 'mutants.txt')

# (pattern, replacement) pairs: operator, constant and condition changes.
RULES = [
    (r' < ', ' <= '), (r' <= ', ' < '), (r' > ', ' >= '), (r' >= ', ' > '),
    (r' == ', ' != '), (r' != ', ' == '), (r' && ', ' || '), (r' \|\| ', ' && '),
    (r' \+ ', ' - '), (r' - ', ' + '), (r' \* ', ' / '), (r'\+\+', '--'),
    (r'(?<![\w.])(\d+)(?![\w.])', 'CONST'), (r'if \((.*)\) \{$', 'NOT'),
    (r'\btrue\b', 'false'), (r'\bfalse\b', 'true'),
]


def candidate_files():
    out = subprocess.check_output(['git', 'ls-files', 'src', 'plugins'], cwd=ROOT, text=True)
    return [f for f in out.split() if f.endswith(('.cpp', '.hpp'))]


def usable(line):
    s = line.strip()
    return (s and not s.startswith(('//', '#', '*', '/*', 'static_assert', 'template'))
            and '"' not in s and "'" not in s and 'fatal' not in s)


def mutations(line):
    for pat, rep in RULES:
        for m in re.finditer(pat, line):
            if rep == 'CONST':
                new = str(int(m.group(1)) + 1) if int(m.group(1)) != 1 else '0'
                yield line[:m.start(1)] + new + line[m.end(1):]
            elif rep == 'NOT':
                yield line[:m.start()] + 'if (!(' + m.group(1) + ')) {'
            else:
                yield line[:m.start()] + rep + line[m.end():]


def select(n):
    rng = random.Random(19)
    pool = []
    for f in candidate_files():
        lines = open(os.path.join(ROOT, f)).read().split('\n')
        texts = [l.strip() for l in lines]
        for l in lines:
            if usable(l) and texts.count(l.strip()) == 1 and '<' not in l.replace(' < ', '').replace(' <= ', ''):
                for m in mutations(l):
                    pool.append((f, l, m))
    sample = rng.sample(pool, n)
    sample.sort()
    with open(LIST, 'w') as fh:
        for f, a, b in sample:
            fh.write(f'{f}\t{a}\t{b}\n')
    print(f'{len(sample)} mutants of {len(pool)} written to {LIST}')


def stripped(path):
    return [l.strip() for l in open(os.path.join(ROOT, path)).read().split('\n')]


def locate(f, orig):
    """The file holding the line (compared without indentation): the named one, else the only
    file under src/ and plugins/ that holds it once."""
    if os.path.exists(os.path.join(ROOT, f)) and stripped(f).count(orig.strip()) == 1:
        return f
    hits = [g for g in candidate_files() if stripped(g).count(orig.strip()) == 1]
    return hits[0] if len(hits) == 1 else None


def check():
    rows = [l.rstrip('\n').split('\t') for l in open(LIST) if l.strip()]
    missing = [(f, o) for f, o, _ in rows if locate(f, o) is None]
    for f, o in missing:
        print(f'not found: {f}: {o.strip()}')
    print(f'{len(rows) - len(missing)} of {len(rows)} mutants found')
    return 1 if missing else 0


def run(build, only=None):
    gen = ['-G', 'Ninja']
    subprocess.check_call(['cmake', '-S', ROOT, '-B', build, *gen, '-DCMAKE_BUILD_TYPE=Release'],
                          stdout=subprocess.DEVNULL)
    subprocess.check_call(['cmake', '--build', build, '-j', '2'], stdout=subprocess.DEVNULL)
    rows = [l.rstrip('\n').split('\t') for l in open(LIST) if l.strip()]
    killed = survived = lost = stillborn = 0
    for i, (f, orig, mut) in enumerate(rows, 1):
        if only and i not in only:
            continue
        g = locate(f, orig)
        if g is None:
            lost += 1
            print(f'{i:3} LOST      {f}: {orig.strip()}', flush=True)
            continue
        path = os.path.join(ROOT, g)
        text = open(path).read()
        lines = text.split('\n')
        k = [l.strip() for l in lines].index(orig.strip())
        lines[k] = lines[k][:len(lines[k]) - len(lines[k].lstrip())] + mut.strip()
        t0 = time.time()
        try:
            open(path, 'w').write('\n'.join(lines))
            b = subprocess.run(['cmake', '--build', build, '-j', '2'], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
            if b.returncode != 0:
                stillborn += 1
                verdict = 'STILLBORN'
            else:
                t = subprocess.run(['ctest', '-j', '2', '--stop-on-failure', '--timeout', '120'],
                                   cwd=build, capture_output=True, text=True)
                if t.returncode != 0:
                    killed += 1
                    failed = re.findall(r'Test +#\d+: (\S+) \.+\*', t.stdout)
                    verdict = 'KILLED'
                    mut = mut + '  [by ' + (failed[0] if failed else '?') + ']'
                else:
                    survived += 1
                    verdict = 'SURVIVED'
        finally:
            open(path, 'w').write(text)
        print(f'{i:3} {verdict:9} {g}: {mut.strip()}  ({time.time() - t0:.0f} s)', flush=True)
    subprocess.run(['cmake', '--build', build, '-j', '2'], stdout=subprocess.DEVNULL)
    valid = killed + survived
    print(f'killed {killed} of {valid} built mutants ({100.0 * killed / max(valid, 1):.1f}%); '
          f'{survived} survived, {stillborn} did not build, {lost} not found')


if __name__ == '__main__':
    if len(sys.argv) > 1 and sys.argv[1] == 'select':
        select(int(sys.argv[2]) if len(sys.argv) > 2 else 70)
    elif len(sys.argv) > 1 and sys.argv[1] == 'check':
        sys.exit(check())
    elif len(sys.argv) > 1 and sys.argv[1] == 'run':
        only = {int(n) for a in sys.argv[3:4] for n in a.split(',')}
        run(os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else os.path.join(ROOT, 'build-mut')), only)
    else:
        sys.exit(__doc__)
