#!/usr/bin/env python3
"""Checks how the monitor's long lines reach the journal (systemd stage).

Usage: journalctl -o json --all -u UNIT | systemd_long_lines.py SERVER_LOG UNIT

SERVER_LOG is the paced status server's log of long records ("record ID
TEXT"). No entry may be longer than journald's line bound less the level
prefix and LF, none may be at level err or above, and each line longer than
that must arrive in pieces at one level: the echo of each record at debug,
joined again the record itself, and its TEMP value at info, joined again the
value. Prints the pieces' shapes per record; exits naming the problems.
"""

import json
import sys


def main():
    bound = 4096 - len("<N>") - 1  # the longest message: the line less prefix and LF
    records = {}
    for line in open(sys.argv[1]):
        if line.startswith("record "):
            _, record_id, text = line.rstrip("\n").split(" ", 2)
            records[int(record_id)] = text
    entries = []
    for line in sys.stdin:
        entry = json.loads(line)
        message = entry.get("MESSAGE")
        if not isinstance(message, str):
            sys.exit("an entry that is not text: %r" % (str(message)[:80],))
        entries.append((int(entry["PRIORITY"]), message))
    problems = ["%d bytes at level %d: %r..." % (len(m), p, m[:30]) for p, m in entries if len(m) > bound]
    problems += ["level %d: %r..." % (p, m[:30]) for p, m in entries if p <= 3]
    # The pieces of one line: from the entry that starts it to the one that ends it.
    def pieces(start, end, level):
        found, current = [], None
        for p, m in entries:
            if current is None and m.startswith(start):
                current = []
            if current is None:
                continue
            if p != level:
                problems.append("a piece at level %d, not %d: %r..." % (p, level, m[:30]))
            current.append((p, m))
            if end(m):
                found.append(current)
                current = None
        return found
    echoes = pieces("<StatusChange>", lambda m: m.endswith("</StatusChange>"), 7)
    # A value piece shorter than the bound is the last (the value holds no UTF-8
    # character or control byte that would end a piece early).
    values = pieces("TEMP: ", lambda m: len(m) < bound, 6)
    def shape(run):  # the entries as "PRIORITY:length", repeats counted
        out = []
        for p, m in run:
            item = "%d:%d" % (p, len(m))
            if out and out[-1][0] == item:
                out[-1][1] += 1
            else:
                out.append([item, 1])
        return " ".join(i if n == 1 else "%s x%d" % (i, n) for i, n in out)
    if len(echoes) != len(records) or len(values) != len(records):
        problems.append("%d echoes and %d values for %d records" % (len(echoes), len(values), len(records)))
    for (record_id, text), echo, value in zip(sorted(records.items()), echoes, values):
        if "".join(m for _, m in echo) != text:
            problems.append("record %d: the echo pieces joined are not the record" % record_id)
        wanted = "TEMP: " + text.split("<Temp>", 1)[1].split("</Temp>", 1)[0]
        if "".join(m for _, m in value) != wanted:
            problems.append("record %d: the value pieces joined are not the value" % record_id)
        print("systemd: record %d (%d bytes), echo entries %s" % (record_id, len(text), shape(echo)),
              file=sys.stderr)
        print("systemd: record %d, TEMP value entries %s" % (record_id, shape(value)), file=sys.stderr)
    if problems:
        sys.exit("\n".join(problems[:20]))
    print("systemd: %d entries of %s, the longest %d bytes (bound %d), none at err or above" %
          (len(entries), sys.argv[2], max(len(m) for _, m in entries), bound), file=sys.stderr)


if __name__ == "__main__":
    main()
