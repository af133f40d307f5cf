#!/usr/bin/env python3
"""Fails when the source tree's floors are broken. text/ and net/ at the bottom; local/, ftp/
and console/ side by side above them; upload/ (the run) above those; driver/ on top. Each file
includes only its own folder and the floors below, never a sibling folder of its floor, and no
folder below the run names what the run owns. Within a folder, no two units (a header with its
.cpp, platform files and tests) include each other in a circle. Each folder's first header says
what the folder is for, in its opening comment. Checks itself on a broken tree first."""
import os
import re
import shutil
import sys
import tempfile

FLOORS = {'text': 0, 'net': 0, 'local': 1, 'ftp': 1, 'console': 1, 'upload': 2, 'driver': 3}
# Types of the run that the floors below it must not know.
RUN_NAMES = re.compile(r'\b(RunState|RunShared|Options)\b')
# foo_posix.cpp, foo_win.cpp, foo_test.cpp and a backend such as foo_openssl.cpp belong to the unit
# foo.
PART = re.compile(r'_(posix|win|test|openssl|schannel)$')
INCLUDE = re.compile(r'^#include "([^"]+)"', re.M)
# What is no code: string literals and comments.
PROSE = re.compile(r'"(?:\\.|[^"\\\n])*"|//[^\n]*')


def unit(path):
    folder, name = os.path.split(path)
    return folder + '/' + PART.sub('', os.path.splitext(name)[0])


def check_include(path, folder, target):
    top = target.split('/')[0]
    if top not in FLOORS or top == folder:
        return None
    if FLOORS[top] > FLOORS[folder]:
        return '%s includes %s, a floor above it' % (path, target)
    if FLOORS[top] == FLOORS[folder]:
        return '%s includes %s, a sibling folder' % (path, target)
    return None


def check(root):
    problems, graph = [], {}
    for folder in FLOORS:
        names = sorted(n for n in os.listdir(os.path.join(root, folder))
                       if n.endswith(('.h', '.cpp', '.inc')))
        headers = [n for n in names if n.endswith('.h')]
        for name in names:
            path = folder + '/' + name
            with open(os.path.join(root, path), encoding='utf-8') as f:
                text = f.read()
            if name == headers[0] and not text.startswith('// %s/ ' % folder):
                problems.append('%s, the first header of %s/, does not open with "// %s/ ..."'
                                % (path, folder, folder))
            named = RUN_NAMES.search(PROSE.sub('', text))
            if FLOORS[folder] < FLOORS['upload'] and named:
                problems.append('%s names %s, which belongs to the run' % (path, named.group(1)))
            for target in INCLUDE.findall(text):
                problem = check_include(path, folder, target)
                if problem:
                    problems.append(problem)
                elif target.split('/')[0] == folder and unit(target) != unit(path):
                    graph.setdefault(unit(path), set()).add(unit(target))
    return problems + ['a circle: ' + ' -> '.join(c) for c in circles(graph)]


def circles(graph):
    found, state = [], {}

    def visit(node, path):
        state[node] = 'open'
        for nxt in sorted(graph.get(node, ())):
            if state.get(nxt) == 'open':
                found.append(path[path.index(nxt):] + [nxt])
            elif nxt not in state:
                visit(nxt, path + [nxt])
        state[node] = 'done'

    for node in sorted(graph):
        if node not in state:
            visit(node, [node])
    return found


# A tree with one fault of each kind, and the problem that each must give.
BROKEN = {
    'ftp/a.h': '// ftp/ the protocol\n#include "console/b.h"\n',
    'ftp/c.cpp': '#include "ftp/d.h"\nvoid F(RunState&);\n',
    'ftp/d.h': '// d\n#include "ftp/c.h"\n',
    'local/a.h': '// the local side\n#include "upload/a.h"\n',
}
EXPECTED = ['ftp/a.h includes console/b.h, a sibling folder',
            'ftp/c.cpp names RunState',
            'local/a.h, the first header of local/, does not open',
            'local/a.h includes upload/a.h, a floor above it',
            'a circle: ftp/c -> ftp/d -> ftp/c']


def self_test():
    root = tempfile.mkdtemp(prefix='vardek-layers-')
    try:
        for folder in FLOORS:
            os.makedirs(os.path.join(root, folder))
            with open(os.path.join(root, folder, 'a.h'), 'w') as f:
                f.write('// %s/ a floor\n' % folder)
        for path, text in BROKEN.items():
            with open(os.path.join(root, path), 'w') as f:
                f.write(text)
        found = check(root)
    finally:
        shutil.rmtree(root)
    return ['the check misses: ' + e for e in EXPECTED if not any(p.startswith(e) for p in found)]


def main(root):
    problems = self_test() + check(root)
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else
                  os.path.join(os.path.dirname(os.path.abspath(__file__)), '..')))
