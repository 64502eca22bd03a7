#!/usr/bin/env python3
"""Finds include circles among the product's files.

A unit is a header with its implementation files: foo.h, foo.cpp and the
system-specific foo_posix.cpp / foo_win32.cpp. Unit A depends on unit B when
a file of A includes a header of B. A circle is a set of units that depend on
each other, directly or through others; the usual way out is a leaf file for
what they share. Tests, test helpers and probes are not looked at.

Usage: check_include_circles.py [source root]   (default: the current folder)
Exit status 0 without circles, 1 with (each printed with the includes that
close it), 2 when no product file was found.
"""

import os
import re
import sys

PRODUCT_DIRS = ("monitor", "platform", "runtime", "transport", "tools")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)
SYSTEM_SUFFIX = re.compile(r"_(posix|win32)$")


def is_product(path):
    name = os.path.basename(path)
    stem, ext = os.path.splitext(name)
    if ext not in (".h", ".cpp"):
        return False
    if stem.endswith("_test") or stem.endswith("_probe") or stem.startswith("fake_"):
        return False
    return "/testing/" not in "/" + path


def unit_of(path):
    stem = os.path.splitext(path)[0]
    return SYSTEM_SUFFIX.sub("", stem)


def product_files(root):
    for top in PRODUCT_DIRS:
        for folder, _, names in os.walk(os.path.join(root, top)):
            for name in names:
                path = os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")
                if is_product(path):
                    yield path


def dependencies(root, files):
    """unit -> {unit it depends on: (including file, included header)}"""
    known = set(files)
    graph = {}
    for path in files:
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as source:
            text = source.read()
        edges = graph.setdefault(unit_of(path), {})
        for included in INCLUDE.findall(text):
            if included not in known:
                continue  # a system header, or one of the tests' own
            target = unit_of(included)
            if target != unit_of(path):
                edges.setdefault(target, (path, included))
    return graph


def circles(graph):
    """The strongly connected sets of more than one unit (Tarjan)."""
    index, low, on_stack, stack, found = {}, {}, set(), [], []
    counter = [0]

    def visit(unit):
        index[unit] = low[unit] = counter[0]
        counter[0] += 1
        stack.append(unit)
        on_stack.add(unit)
        for target in graph.get(unit, {}):
            if target not in index:
                visit(target)
                low[unit] = min(low[unit], low[target])
            elif target in on_stack:
                low[unit] = min(low[unit], index[target])
        if low[unit] == index[unit]:
            members = []
            while True:
                member = stack.pop()
                on_stack.discard(member)
                members.append(member)
                if member == unit:
                    break
            if len(members) > 1:
                found.append(sorted(members))

    sys.setrecursionlimit(10000)
    for unit in sorted(graph):
        if unit not in index:
            visit(unit)
    return found


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else "."
    files = sorted(product_files(root))
    if not files:
        print(f"check_include_circles: no product files under {root!r}", file=sys.stderr)
        return 2
    graph = dependencies(root, files)
    found = circles(graph)
    for members in found:
        print("include circle: " + " <-> ".join(members), file=sys.stderr)
        for unit in members:
            for target, (path, included) in sorted(graph[unit].items()):
                if target in members:
                    print(f"  {path} includes {included}", file=sys.stderr)
    if found:
        return 1
    print(f"check_include_circles: {len(files)} files in {len(graph)} units, no circles",
          file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
