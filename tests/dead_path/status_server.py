#!/usr/bin/env python3
"""A status server for the dead-path tests, run inside the test's network
namespace on 127.0.0.1.

It answers the first request of its one connection with a status-change
record and leaves every later request unanswered, as a server does between
two status changes. Each request it reads is noted in the events file. With
--hold-first it answers the first request only once the file named by it
exists (so that the test can put a packet filter in place first).

SIGUSR1 makes its side of the connection vanish: SO_LINGER 0 then close, so
that the kernel forgets the connection at once. Sent while the path is down,
the reset it sends is lost, and nothing on this side will ever answer the
monitor again, as after a host restart or a firewall that forgot the
connection. The server then ends.
"""

import argparse
import os
import signal
import socket
import struct
import sys
import time

RECORD = (b"<StatusChange><LogRec.SyslogID>%d</LogRec.SyslogID>"
          b"<Event>dead-path test</Event></StatusChange>")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--events", required=True)
    parser.add_argument("--record-id", type=int, default=1)
    parser.add_argument("--hold-first", default=None)
    args = parser.parse_args()

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", args.port))
    listener.listen(1)
    state = {"connection": None}

    def vanish(_signum, _frame):
        connection = state["connection"]
        if connection is not None:
            connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            connection.close()
        listener.close()
        note("vanished")
        os._exit(0)

    def note(text):
        with open(args.events, "a") as events:
            events.write(text + "\n")

    signal.signal(signal.SIGUSR1, vanish)
    note("listening")
    connection, _ = listener.accept()
    state["connection"] = connection
    note("accepted")
    received = b""
    requests = 0
    while True:
        data = connection.recv(4096)
        if not data:
            note("closed by the monitor")
            signal.pause()
        received += data
        while b"\r\n" in received:
            _line, received = received.split(b"\r\n", 1)
            requests += 1
            note("request %d" % requests)
            if requests == 1:
                while args.hold_first and not os.path.exists(args.hold_first):
                    time.sleep(0.05)
                connection.sendall(RECORD % args.record_id)
                note("answered")


if __name__ == "__main__":
    sys.exit(main())
