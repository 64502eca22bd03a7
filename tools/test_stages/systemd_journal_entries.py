#!/usr/bin/env python3
"""A journal's entries as [PRIORITY, MESSAGE] (systemd stage).

Usage: journalctl -o json --all ... | systemd_journal_entries.py

Prints one JSON array a line, in the journal's order, so that two journals
(the local one and the central one) can be compared entry by entry, levels
and all.
"""

import json
import sys


def main():
    for line in sys.stdin:
        entry = json.loads(line)
        print(json.dumps([entry.get("PRIORITY"), entry.get("MESSAGE")]))


if __name__ == "__main__":
    main()
