#!/usr/bin/env python3
"""The pieces of the long lines in a journal, per level (systemd stage).

Usage: systemd_journal_entries.py output | systemd_long_line_pieces.py

The paced server's long records are made of runs of "AAAA", "BBBB" and
"TTTT"; an entry holding one is a piece of a long line (of the echo, or of
the TEMP value). Prints, per level, how many pieces there are and the
longest, on one line.
"""

import json
import sys


def main():
    levels = {}
    for line in sys.stdin:
        priority, message = json.loads(line)
        if isinstance(message, str) and ("AAAA" in message or "BBBB" in message or
                                          "TTTT" in message):
            levels.setdefault(priority, []).append(len(message))
    print(", ".join("level %s: %d pieces, at most %d bytes" % (p, len(n), max(n))
                    for p, n in sorted(levels.items())))


if __name__ == "__main__":
    main()
