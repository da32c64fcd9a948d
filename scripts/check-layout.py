#!/usr/bin/env python3
"""Checks that the folders of src/ include one another one way only, so that each folder can be
read, tested and reused without the ones above it. A folder's linux/ sub-folder counts as the
folder; src/IniFile's sub-folders count each on their own. Exceptions carry call stacks, so
diagnostics and threading/threads may include each other.

    python3 scripts/check-layout.py [source root]
"""

import collections
import pathlib
import re
import sys

ALLOWED_PAIRS = {frozenset({'diagnostics', 'threading/threads'})}


def folder(relative):
    parts = [part for part in relative.parent.parts if part != 'linux']
    if not parts:
        return ''
    if parts[0] in ('IniFile', 'threading') and len(parts) > 1:
        return parts[0] + '/' + parts[1]
    return parts[0]


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else 'src')
    edges = collections.defaultdict(set)
    for path in sorted(root.rglob('*')):
        if path.suffix not in ('.cpp', '.h'):
            continue
        source = folder(path.relative_to(root))
        for included in re.findall(r'#include "([^"]+)"', path.read_text(encoding='utf-8')):
            target = folder(pathlib.Path(included))
            if target != source:
                edges[source].add((target, str(path.relative_to(root))))
    def allowed(source, target):
        return frozenset({source, target}) in ALLOWED_PAIRS

    def reaches(start, goal):
        seen, todo = {start}, [start]
        while todo:
            current = todo.pop()
            for target, _ in edges.get(current, ()):
                if allowed(current, target) or target in seen:
                    continue
                if target == goal:
                    return True
                seen.add(target)
                todo.append(target)
        return False

    cycles = ['%s -> %s (%s) leads back to %s' % (source, target, where, source)
              for source, targets in edges.items() for target, where in targets
              if not allowed(source, target) and reaches(target, source)]
    for cycle in sorted(cycles):
        print(cycle)
    return 1 if cycles else 0


if __name__ == '__main__':
    sys.exit(main())
