#!/usr/bin/env python3
"""A proxy on 127.0.0.1 that drops every connection after a random 1-8 MiB of its reply.

  dropping_proxy.py LISTEN_PORT UPSTREAM_PORT STATS_FILE [LEAST_BYTES MOST_BYTES]

LEAST_BYTES and MOST_BYTES change that range, for small files.

Each request goes to the upstream server with "Connection: close", so that a connection
carries one reply; the reply is passed on until its budget is spent, then both connections
are closed. On SIGTERM it writes to STATS_FILE the replies passed and the body bytes sent.
"""

import random
import signal
import socket
import sys
import threading

MIB = 1024 * 1024


class Stats:
    def __init__(self):
        self.lock = threading.Lock()
        self.replies = 0
        self.body_bytes = 0

    def add(self, body_bytes):
        with self.lock:
            self.replies += 1
            self.body_bytes += body_bytes


def read_head(sock):
    data = b""
    while b"\r\n\r\n" not in data:
        piece = sock.recv(65536)
        if not piece:
            return None
        data += piece
    return data


def with_close(head):
    lines = head.split(b"\r\n\r\n", 1)[0].split(b"\r\n")
    kept = [line for line in lines if not line.lower().startswith(b"connection:")]
    return b"\r\n".join(kept + [b"Connection: close"]) + b"\r\n\r\n"


def serve(client, upstream_port, stats, budgets):
    budget = random.randint(*budgets)
    upstream = None
    try:
        head = read_head(client)
        if head is None:
            return
        upstream = socket.create_connection(("127.0.0.1", upstream_port))
        upstream.sendall(with_close(head))
        sent = 0
        reply_head = None
        pending = b""
        while sent < budget:
            piece = upstream.recv(min(1 * MIB, budget - sent))
            if not piece:
                break
            client.sendall(piece)
            sent += len(piece)
            if reply_head is None:
                pending += piece
                if b"\r\n\r\n" in pending:
                    reply_head = len(pending.split(b"\r\n\r\n", 1)[0]) + 4
        stats.add(max(0, sent - (reply_head or sent)))
    except OSError:
        pass
    finally:
        for sock in (client, upstream):
            if sock:
                sock.close()


def main():
    listen_port, upstream_port, stats_file = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
    budgets = (int(sys.argv[4]), int(sys.argv[5])) if len(sys.argv) > 5 else (1 * MIB, 8 * MIB)
    stats = Stats()
    server = socket.create_server(("127.0.0.1", listen_port), reuse_port=False)

    def finish(*_):
        with open(stats_file, "w") as f:
            f.write(f"{stats.replies} {stats.body_bytes}\n")
        sys.exit(0)

    signal.signal(signal.SIGTERM, finish)
    while True:
        client, _ = server.accept()
        threading.Thread(target=serve, args=(client, upstream_port, stats, budgets), daemon=True).start()


if __name__ == "__main__":
    main()
