#!/usr/bin/env python3
"""Fails when the source tree's floors are broken: net/ at the bottom, upload/ above it, driver/
on top, and each includes only its own floor and those below. Within a floor, no two units
(a header with its .cpp, platform files and tests) may include each other in a circle."""
import os
import re
import sys

FLOORS = {'net': 0, 'upload': 1, 'driver': 2}
# foo_posix.cpp, foo_win.cpp, foo_test.cpp and a backend such as foo_openssl.cpp belong to the unit
# foo.
PART = re.compile(r'_(posix|win|test|openssl|schannel)$')
INCLUDE = re.compile(r'^#include "([^"]+)"', re.M)


def unit(path):
    folder, name = os.path.split(path)
    return folder + '/' + PART.sub('', os.path.splitext(name)[0])


def main(root):
    problems, graph = [], {}
    for folder in FLOORS:
        for name in sorted(os.listdir(os.path.join(root, folder))):
            if not name.endswith(('.h', '.cpp')):
                continue
            path = folder + '/' + name
            with open(os.path.join(root, path), encoding='utf-8') as f:
                included = INCLUDE.findall(f.read())
            for target in included:
                top = target.split('/')[0]
                if top in FLOORS and FLOORS[top] > FLOORS[folder]:
                    problems.append('%s includes %s, a floor above it' % (path, target))
                elif top == folder and unit(target) != unit(path):
                    graph.setdefault(unit(path), set()).add(unit(target))
    problems += ['a circle: ' + ' -> '.join(c) for c in circles(graph)]
    for p in problems:
        print(p)
    return 1 if problems else 0


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


if __name__ == '__main__':
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else
                  os.path.join(os.path.dirname(os.path.abspath(__file__)), '..')))
