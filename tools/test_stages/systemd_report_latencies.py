#!/usr/bin/env python3
"""Seconds from each record's send to its report in the journal (systemd stage).

Usage: journalctl -o json -u UNIT | systemd_report_latencies.py SERVER_LOG

SERVER_LOG is the paced status server's log, whose lines "sent ID SECONDS"
give each record's id and the moment it was sent. The journal's entries come
in on standard input as JSON, one per line; a record's report ends with its
"STATE: sID" line, whose entry's time stamp is when the report reached the
journal. Prints one line per record sent: its id and the seconds from send to
journal (three decimals), or "missing" when no report of it is there.
"""

import json
import sys


def main():
    sent = {}
    with open(sys.argv[1], encoding="utf-8") as server_log:
        for line in server_log:
            word = line.split()
            if word and word[0] == "sent":
                sent[int(word[1])] = float(word[2])
    seen = {}
    for line in sys.stdin:
        entry = json.loads(line)
        message = entry.get("MESSAGE")
        if isinstance(message, str) and message.startswith("STATE: s"):
            seen.setdefault(int(message[8:]), int(entry["__REALTIME_TIMESTAMP"]) / 1e6)
    for record_id in sorted(sent):
        if record_id in seen:
            print(record_id, "%.3f" % (seen[record_id] - sent[record_id]))
        else:
            print(record_id, "missing")


if __name__ == "__main__":
    main()
