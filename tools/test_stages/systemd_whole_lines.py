#!/usr/bin/env python3
"""Checks that every journal line of the monitor is whole (systemd stage).

Usage: journalctl -o json _SYSTEMD_UNIT=UNIT | systemd_whole_lines.py SERVER_LOG...

A whole line is a line of the monitor's own log (banner, stamped progress
and error lines, a message's class line, the report's labelled lines) or the
echo of a whole record that a server sent: the servers' logs list those as
"record ID TEXT". Exits with the first fragments named when a line is
neither, say a line cut by a stop in the middle of a stream; prints the count
of lines checked otherwise.
"""

import json
import re
import sys

WHOLE = re.compile(
    r"Version: [0-9.]+|"
    r"[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}( Connected to localhost| GET /| Disconnected| ?Error: .*)?|"
    r".*\(E[A-Za-z]+\)|"
    r"SYSLOG\.ID: [0-9]+|EVENT: Heartbeat|DATETIME: 2026-12-10T05:31:07Z|VERSION: 3\.4\.1|"
    r"STATE: s[0-9]+|")


def main():
    records = set()
    for name in sys.argv[1:]:
        with open(name, encoding="utf-8") as server_log:
            for line in server_log:
                if line.startswith("record "):
                    records.add(line.split(" ", 2)[2].rstrip("\n"))
    count, fragments = 0, []
    for line in sys.stdin:
        message = json.loads(line).get("MESSAGE")
        count += 1
        if not isinstance(message, str) or not (message in records or WHOLE.fullmatch(message)):
            fragments.append(repr(message))
    if fragments:
        sys.exit("fragments in the journal: " + ", ".join(fragments[:10]))
    print("systemd: %d journal lines of the monitor, all whole" % count, file=sys.stderr)


if __name__ == "__main__":
    main()
