#!/usr/bin/env python3
"""A status server for the booted-systemd stage (tools/test_stages/80-systemd.sh).

Listens on 127.0.0.1:PORT (0: a port that the kernel hands out), says so on
standard output as "listening on 127.0.0.1:PORT" with the port it got, and,
on every connection, answers each "GET /"
request line with the next status-change record, at most one record per
PACE seconds. Record ids count up from FIRST_ID across connections; after
COUNT records in all it goes quiet: connections stay open and requests are
read, but nothing more is sent. Each record is logged on standard output as
"sent ID SECONDS", the wall clock just before its bytes were handed to the
kernel (one send), so that the stage can time the journal against it; its
text is logged as "record ID TEXT". SIGTERM closes every connection and
ends the server.

An optional fifth argument, "long", makes every record one line far longer
than the journal's default LineMax, with a 60,000-byte <Temp> value: at each
point where the journal would cut such a line itself (were it given whole),
the bytes that follow look like a level prefix ("<0>", "<3>"), so that a cut
there would let the server choose the level of what follows.
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


# journald's default LineMax: where it cuts a line that has no end yet,
# counting the level prefix ("<7>") the monitor writes first.
LINE_MAX = 48 * 1024
LONG_VALUE_SIZE = 60000


def long_record(record_id):
    head = "<StatusChange>"
    first_mark, second_mark = "<0>INJECTED ", "<3>INJECTED "
    echo = (head + "A" * (LINE_MAX - len("<7>") - len(head)) + first_mark +
            "B" * (LINE_MAX - len(first_mark)) + second_mark)
    value_head = "T" * (LINE_MAX - len("<6>TEMP: ")) + second_mark
    value = value_head + "T" * (LONG_VALUE_SIZE - len(value_head))
    return (echo + "<LogRec.SyslogID>%d</LogRec.SyslogID><Event>Heartbeat</Event>"
            "<DateTime>2026-12-10T05:31:07Z</DateTime><Version>3.4.1</Version>"
            "<Temp>%s</Temp><State>s%d</State></StatusChange>" % (record_id, value, record_id))


def main():
    port, first_id, count, pace = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4])
    make_record = long_record if sys.argv[5:] == ["long"] else record
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    listener = socket.create_server(("127.0.0.1", port))
    print("listening on 127.0.0.1:%d" % listener.getsockname()[1], flush=True)
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
            text = make_record(next_id)
            sent_at = time.time()
            connection.sendall(text.encode())
            last_sent = time.monotonic()
            print("sent %d %.6f" % (next_id, sent_at), flush=True)
            print("record %d %s" % (next_id, text), flush=True)
            next_id += 1


if __name__ == "__main__":
    main()
