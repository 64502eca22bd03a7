#!/usr/bin/env python3
"""Finds include circles among the product's files.

A unit is a header with its implementation files: foo.h, foo.cpp and the
system-specific foo_posix.cpp / foo_win32.cpp. Unit A depends on unit B when
a file of A includes a header of B. A circle is a set of units that depend on
each other, directly or through others; the usual way out is a leaf file for
what they share. Tests, test helpers and probes are not looked at.

Usage: check_include_circles.py [--known FILE] [source root]
The source root defaults to the current folder. FILE lists circles that are
known and being taken apart, one a line as this script prints them
("a <-> b"; '#' starts a comment): they are reported but tolerated, and a
listed circle that no longer exists is an error too, so that the list only
shrinks. Exit status 0 without (new) circles, 1 with (each printed with the
includes that close it), 2 for bad usage or when no product file was found.
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
    if stem.endswith("_test") or stem.endswith("_probe"):
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


def read_known(path):
    known = set()
    with open(path, encoding="utf-8") as listing:
        for line in listing:
            line = line.split("#", 1)[0].strip()
            if line:
                known.add(" <-> ".join(sorted(part.strip() for part in line.split("<->"))))
    return known


def main():
    args = sys.argv[1:]
    known = set()
    if args[:1] == ["--known"]:
        if len(args) < 2:
            print("check_include_circles: --known needs a file", file=sys.stderr)
            return 2
        known = read_known(args[1])
        args = args[2:]
    if len(args) > 1:
        print("usage: check_include_circles.py [--known FILE] [source root]", file=sys.stderr)
        return 2
    root = args[0] if args else "."
    files = sorted(product_files(root))
    if not files:
        print(f"check_include_circles: no product files under {root!r}", file=sys.stderr)
        return 2
    graph = dependencies(root, files)
    failed = False
    seen = set()
    for members in circles(graph):
        name = " <-> ".join(members)
        seen.add(name)
        tolerated = name in known
        failed = failed or not tolerated
        print(("known " if tolerated else "") + "include circle: " + name, file=sys.stderr)
        for unit in members:
            for target, (path, included) in sorted(graph[unit].items()):
                if target in members:
                    print(f"  {path} includes {included}", file=sys.stderr)
    for name in sorted(known - seen):
        failed = True
        print(f"listed circle no longer exists, take it off the list: {name}", file=sys.stderr)
    if failed:
        return 1
    print(f"check_include_circles: {len(files)} files in {len(graph)} units, no new circles",
          file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
