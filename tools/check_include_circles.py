#!/usr/bin/env python3
"""Finds include circles, and circles closed by calls, among the product's files.

A unit is a header with its implementation files: foo.h, foo.cpp, the
system-specific foo_posix.cpp / foo_win32.cpp, and a foo_part.cpp that has no
header of its own and includes foo.h first (one class's operations split
over two files, say). Unit A depends on unit B when
a file of A includes a header of B. A circle is a set of units that depend on
each other, directly or through others; the usual way out is a leaf file for
what they share. Tests, test helpers and the tests' probe programs are not looked at.

Calls close circles too: a .cpp that calls a function (or uses a variable)
defined in another unit's .cpp depends on that unit as surely as if it
included its header, and the header need not be included to do it (an
extern declaration is enough). With --objects BUILD, the object files that
BUILD/compile_commands.json names for the product's sources are read with
nm: unit A depends on unit B also when an object of A needs a symbol that an
object of B defines (a strong definition: inline functions and template
instances, defined wherever used, are seen through the includes). The
objects must be built first; --list-objects BUILD prints them, relative to
BUILD, as build targets. Files that the build does not compile (the other
system's *_win32.cpp, say) are seen through their includes only.

Usage: check_include_circles.py [--known FILE] [--objects BUILD] [source root]
       check_include_circles.py --list-objects BUILD [source root]
The source root defaults to the current folder. FILE lists circles that are
known and being taken apart, one a line as this script prints them
("a <-> b"; '#' starts a comment): they are reported but tolerated, and a
listed circle that no longer exists is an error too, so that the list only
shrinks. Exit status 0 without (new) circles, 1 with (each printed with the
includes that close it), 2 for bad usage or when no product file was found.
"""

import json
import os
import re
import shlex
import subprocess
import sys

PRODUCT_DIRS = ("demo_server", "monitor", "platform", "program", "runtime", "transport")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)
SYSTEM_SUFFIX = re.compile(r"_(posix|win32)$")


def is_product(path):
    name = os.path.basename(path)
    stem, ext = os.path.splitext(name)
    if ext not in (".h", ".cpp"):
        return False
    if stem.endswith("_test") or stem.endswith("_test_probe"):
        return False
    return "/testing/" not in "/" + path


# Implementation files that belong to the unit of another stem's header
# (foo_part.cpp of foo.h): path -> unit, filled by find_parts().
PARTS = {}
FIRST_INCLUDE = re.compile(r'^\s*#\s*include\s+([<"])([^">]+)[">]', re.MULTILINE)


def unit_of(path):
    if path in PARTS:
        return PARTS[path]
    stem = os.path.splitext(path)[0]
    return SYSTEM_SUFFIX.sub("", stem)


def find_parts(root, files):
    """Records each foo_part.cpp without a header of its own whose first include is foo.h."""
    known = set(files)
    for path in files:
        stem, ext = os.path.splitext(path)
        if ext != ".cpp" or SYSTEM_SUFFIX.sub("", stem) + ".h" in known:
            continue
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as source:
            first = FIRST_INCLUDE.search(source.read())
        if first is None or first.group(1) != '"' or first.group(2) not in known:
            continue
        header_unit = unit_of(first.group(2))
        if stem.startswith(header_unit + "_"):
            PARTS[path] = header_unit


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


def product_objects(root, build, files):
    """[(product source, object path relative to build)] from the compile database."""
    database = os.path.join(build, "compile_commands.json")
    try:
        with open(database, encoding="utf-8") as listing:
            entries = json.load(listing)
    except (OSError, ValueError) as error:
        raise UsageError(f"cannot read {database}: {error}") from error
    wanted = set(files)
    root = os.path.realpath(root)
    found = []
    for entry in entries:
        source = os.path.join(entry["directory"], entry["file"])
        path = os.path.relpath(os.path.realpath(source), root).replace(os.sep, "/")
        if path not in wanted:
            continue
        words = entry["arguments"] if "arguments" in entry else shlex.split(entry["command"])
        if "-o" not in words[:-1]:
            raise UsageError(f"{database}: no -o in the command of {path}")
        output = os.path.join(entry["directory"], words[words.index("-o") + 1])
        found.append((path, os.path.relpath(output, build).replace(os.sep, "/")))
    if not found:
        raise UsageError(f"{database} compiles none of the product's sources")
    # A file compiled into several targets (the program's variants) defines
    # and needs the same symbols in each: one object of it is enough.
    first = {}
    for path, output in sorted(found):
        first.setdefault(path, output)
    return sorted(first.items())


# nm's symbol types of a definition that is the only one in the program. The
# weak ones (W, V, u) are inline functions, template instances and the like,
# which every user defines for itself.
STRONG_DEFINITION = set("TDBRGSC")


def symbols(object_path):
    """(set of needed symbols, set of strongly defined symbols) of an object file."""
    nm = os.environ.get("NM", "nm")
    try:
        listing = subprocess.run([nm, "-P", object_path], check=True, capture_output=True,
                                 text=True).stdout
    except (OSError, subprocess.CalledProcessError) as error:
        raise UsageError(f"{nm} -P {object_path} failed: {error}") from error
    needed, defined = set(), set()
    for line in listing.splitlines():
        fields = line.split()
        if len(fields) < 2:
            continue
        if fields[1] == "U":
            needed.add(fields[0])
        elif fields[1] in STRONG_DEFINITION:
            defined.add(fields[0])
    return needed, defined


def call_dependencies(build, objects):
    """unit -> {unit whose definition it uses: (using file, symbol, defining file)}"""
    tables = []
    definers = {}
    for path, output in objects:
        object_path = os.path.join(build, output)
        if not os.path.exists(object_path):
            raise UsageError(f"{object_path} (of {path}) is not built; build the objects that "
                             f"--list-objects {build} prints first")
        needed, defined = symbols(object_path)
        tables.append((path, needed))
        for symbol in defined:
            definers.setdefault(symbol, set()).add(path)
    graph = {}
    for path, needed in tables:
        edges = graph.setdefault(unit_of(path), {})
        for symbol in sorted(needed):
            for definer in sorted(definers.get(symbol, ())):
                if unit_of(definer) != unit_of(path):
                    edges.setdefault(unit_of(definer), (path, symbol, definer))
    return graph


def demangled(symbol):
    try:
        return subprocess.run(["c++filt", symbol], check=True, capture_output=True,
                              text=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return symbol


class UsageError(Exception):
    pass


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
    build = None
    list_only = False
    while args[:1] in (["--known"], ["--objects"], ["--list-objects"]):
        if len(args) < 2:
            print(f"check_include_circles: {args[0]} needs an argument", file=sys.stderr)
            return 2
        if args[0] == "--known":
            known = read_known(args[1])
        else:
            build = args[1]
            list_only = args[0] == "--list-objects"
        args = args[2:]
    if len(args) > 1:
        print("usage: check_include_circles.py [--known FILE] [--objects BUILD] [source root]\n"
              "       check_include_circles.py --list-objects BUILD [source root]",
              file=sys.stderr)
        return 2
    root = args[0] if args else "."
    files = sorted(product_files(root))
    if not files:
        print(f"check_include_circles: no product files under {root!r}", file=sys.stderr)
        return 2
    find_parts(root, files)
    includes = dependencies(root, files)
    calls, objects = {}, []
    try:
        if build is not None:
            objects = product_objects(root, build, files)
            if list_only:
                print("\n".join(output for _, output in objects))
                return 0
            calls = call_dependencies(build, objects)
    except UsageError as error:
        print(f"check_include_circles: {error}", file=sys.stderr)
        return 2
    graph = {}
    for unit in set(includes) | set(calls):
        graph[unit] = set(includes.get(unit, {})) | set(calls.get(unit, {}))
    failed = False
    seen = set()
    for members in circles(graph):
        name = " <-> ".join(members)
        seen.add(name)
        tolerated = name in known
        failed = failed or not tolerated
        lines = []
        for unit in members:
            for target, (path, included) in sorted(includes.get(unit, {}).items()):
                if target in members:
                    lines.append(f"  {path} includes {included}")
            for target, (path, symbol, definer) in sorted(calls.get(unit, {}).items()):
                if target in members and target not in includes.get(unit, {}):
                    lines.append(f"  {path} uses {demangled(symbol)}, defined in {definer}")
        kind = "call circle" if any(" uses " in line for line in lines) else "include circle"
        print(("known " if tolerated else "") + f"{kind}: {name}", file=sys.stderr)
        print("\n".join(lines), file=sys.stderr)
    for name in sorted(known - seen):
        failed = True
        print(f"listed circle no longer exists, take it off the list: {name}", file=sys.stderr)
    if failed:
        return 1
    seen_through = f"includes and {len(objects)} objects' symbols" if build else "includes"
    print(f"check_include_circles: {len(files)} files in {len(graph)} units, "
          f"no new circles (seen through {seen_through})", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
