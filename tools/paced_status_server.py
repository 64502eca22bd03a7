#!/usr/bin/env python3
"""A status server for the booted-systemd stage (tools/test_stages/80-systemd.sh).

Listens on 127.0.0.1:PORT and, on every connection, answers each "GET /"
request line with the next status-change record, at most one record per
PACE seconds. Record ids count up from FIRST_ID across connections; after
COUNT records in all it goes quiet: connections stay open and requests are
read, but nothing more is sent. Each record is logged on standard output as
"sent ID SECONDS", the wall clock just before its bytes were handed to the
kernel (one send), so that the stage can time the journal against it; its
text is logged as "record ID TEXT". SIGTERM closes every connection and
ends the server.
"""

import selectors
import signal
import socket
import sys
import time


def record(record_id):
    return ("<StatusChange><LogRec.SyslogID>%d</LogRec.SyslogID>"
            "<Event>Heartbeat</Event><DateTime>2026-12-10T05:31:07Z</DateTime>"
            "<Version>3.4.1</Version><State>s%d</State></StatusChange>" % (record_id, record_id))


def main():
    port, first_id, count, pace = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4])
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    listener = socket.create_server(("127.0.0.1", port))
    selector = selectors.DefaultSelector()
    selector.register(listener, selectors.EVENT_READ)
    pending = {}  # connection -> bytes of requests received so far
    waiting = []  # connections with an unanswered request, oldest first
    next_id, last_sent = first_id, 0.0
    while True:
        timeout = None
        if waiting and next_id < first_id + count:
            timeout = max(0.0, last_sent + pace - time.monotonic())
        for key, _ in selector.select(timeout):
            if key.fileobj is listener:
                connection, _ = listener.accept()
                pending[connection] = b""
                selector.register(connection, selectors.EVENT_READ)
                continue
            connection = key.fileobj
            data = connection.recv(4096)
            if not data:
                selector.unregister(connection)
                pending.pop(connection, None)
                waiting[:] = [c for c in waiting if c is not connection]
                connection.close()
                continue
            pending[connection] += data
            while b"GET /\r\n" in pending[connection]:
                pending[connection] = pending[connection].split(b"GET /\r\n", 1)[1]
                waiting.append(connection)
        if waiting and next_id < first_id + count and time.monotonic() >= last_sent + pace:
            connection = waiting.pop(0)
            text = record(next_id)
            sent_at = time.time()
            connection.sendall(text.encode())
            last_sent = time.monotonic()
            print("sent %d %.6f" % (next_id, sent_at), flush=True)
            print("record %d %s" % (next_id, text), flush=True)
            next_id += 1


if __name__ == "__main__":
    main()
