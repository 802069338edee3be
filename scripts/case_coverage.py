#!/usr/bin/env python3
"""Coverage of src/ and plugins/ case by case, and the cases that others back completely.

  scripts/case_coverage.py run BUILD OUT     runs every ctest entry of BUILD (a coverage build:
                                             -DDALO_COVERAGE=ON) alone, each writing its counters
                                             under its own GCOV_PREFIX, and keeps the lines and
                                             branches it reached in OUT/NNNN.json
  scripts/case_coverage.py backed OUT [RE]   maps the entries to the TEST blocks of tests/ and
                                             lists, largest first, the blocks whose every line and
                                             branch some kept block also reaches (reverse deletion);
                                             death tests and blocks whose name matches RE are kept

Death tests end by abort, so their counters are never written: coverage cannot speak for them.
A block listed by `backed` may still check values no other block checks; read it before
dropping it, and run scripts/mutants.py afterwards.
"""
import collections, concurrent.futures, glob, json, os, re, shutil, subprocess, sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def reached(prefix):
    """Lines and branches of src/ and plugins/ counted in the gcda files under prefix."""
    lines, branches = collections.defaultdict(set), collections.defaultdict(set)
    for gcda in glob.glob(prefix + '/**/*.gcda', recursive=True):
        gcno = gcda[len(prefix):-5] + '.gcno'
        if not os.path.exists(gcno):
            continue
        folder = os.path.dirname(gcda)
        if not os.path.exists(gcda[:-5] + '.gcno'):
            os.link(gcno, gcda[:-5] + '.gcno')
        out = subprocess.run(['gcov', '-b', '--json-format', '--stdout', '-o', folder, gcda],
                             cwd=folder, capture_output=True, text=True).stdout
        for doc in filter(str.strip, out.splitlines()):
            report = json.loads(doc)
            for f in report.get('files', []):
                path = os.path.normpath(os.path.join(report['current_working_directory'], f['file']))
                rel = os.path.relpath(path, ROOT)
                if not rel.startswith(('src/', 'plugins/')):
                    continue
                for ln in f['lines']:
                    if ln['count'] > 0:
                        lines[rel].add(ln['line_number'])
                    for k, b in enumerate(ln.get('branches', [])):
                        if b['count'] > 0 and not b.get('throw'):
                            branches[rel].add(ln['line_number'] * 1000 + k)
    return ({k: sorted(v) for k, v in lines.items()}, {k: sorted(v) for k, v in branches.items()})


def run(build, out):
    os.makedirs(out, exist_ok=True)
    listing = json.loads(subprocess.check_output(['ctest', '--show-only=json-v1'], cwd=build))
    entries = []
    for t in listing['tests']:
        env, cwd = {}, build
        for p in t.get('properties', []):
            if p['name'] == 'ENVIRONMENT':
                env.update(kv.split('=', 1) for kv in p['value'])
            if p['name'] == 'WORKING_DIRECTORY':
                cwd = p['value']
        entries.append((t['name'], t['command'], env, cwd))

    def one(i):
        name, command, env, cwd = entries[i]
        result = os.path.join(out, f'{i:04d}.json')
        if os.path.exists(result):
            return
        prefix = os.path.join(out, f'gcda-{i}')
        shutil.rmtree(prefix, ignore_errors=True)
        e = dict(os.environ, **env, GCOV_PREFIX=prefix, GCOV_PREFIX_STRIP='0')
        rc = subprocess.run(command, cwd=cwd, env=e, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL).returncode
        lines, branches = reached(prefix)
        shutil.rmtree(prefix, ignore_errors=True)
        with open(result, 'w') as fh:
            json.dump({'name': name, 'rc': rc, 'lines': lines, 'branches': branches}, fh)

    with concurrent.futures.ThreadPoolExecutor(os.cpu_count() or 2) as pool:
        list(pool.map(one, range(len(entries))))
    print(f'{len(entries)} entries in {out}')


def code_lines(lines):
    return sum(1 for l in lines if l.strip() and not l.strip().startswith('//'))


def blocks():
    """(suite, name) -> file, first line, size and whether it holds a death test."""
    found = {}
    for path in glob.glob(os.path.join(ROOT, 'tests', '**', '*_test.cpp'), recursive=True):
        text = open(path).read().split('\n')
        for i, l in enumerate(text):
            m = re.match(r'^(?:TEST|TEST_F|TEST_P)\((\w+),\s*(\w+)\)', l)
            if m:
                end = next(j for j in range(i, len(text)) if text[j] == '}')
                body = text[i:end + 1]
                found[m.groups()] = dict(file=os.path.relpath(path, ROOT), line=i + 1,
                                         size=code_lines(body),
                                         death=any('EXPECT_FATAL' in b or '_DEATH' in b or
                                                   'EXPECT_EXIT' in b for b in body))
    return found


def block_of(entry, known):
    """The TEST block of a ctest entry (parametrised and thread-count variants included)."""
    name = re.sub(r'\.threads\d+$', '', entry)
    parts = name.split('.')
    if len(parts) < 2:
        return None
    suite, test = parts[0].split('/')[-1], parts[1].split('/')[0]
    return (suite, test) if (suite, test) in known else None


def backed(out, keep_re):
    known = blocks()
    reach = collections.defaultdict(set)
    for path in glob.glob(os.path.join(out, '*.json')):
        r = json.load(open(path))
        key = block_of(r['name'], known) or ('#', r['name'])
        for kind in ('lines', 'branches'):
            for f, items in r[kind].items():
                reach[key].update((kind[0], f, n) for n in items)
    count = collections.Counter()
    for items in reach.values():
        count.update(items)
    keep = re.compile(keep_re) if keep_re else None
    order = sorted((k for k in reach if k in known and not known[k]['death'] and
                    not (keep and keep.search('.'.join(k)))), key=lambda k: -known[k]['size'])
    total = 0
    for k in order:
        if all(count[e] > 1 for e in reach[k]):
            for e in reach[k]:
                count[e] -= 1
            total += known[k]['size']
            print(f"{known[k]['size']:4}  {known[k]['file']}:{known[k]['line']}  {'.'.join(k)}")
    print(f'{total} lines in blocks that others back')


if __name__ == '__main__':
    if len(sys.argv) == 4 and sys.argv[1] == 'run':
        run(os.path.abspath(sys.argv[2]), os.path.abspath(sys.argv[3]))
    elif len(sys.argv) in (3, 4) and sys.argv[1] == 'backed':
        backed(os.path.abspath(sys.argv[2]), sys.argv[3] if len(sys.argv) == 4 else None)
    else:
        sys.exit(__doc__)
