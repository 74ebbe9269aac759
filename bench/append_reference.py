#!/usr/bin/env python3
"""The reference for server_bench: the last messages the provider posted into
a folder, fetched back whole, then appended again with python's raw sockets
(one connection, a synchronizing literal each, as the provider sends them),
plain or over TLS, three times. Prints the best time of the APPENDs.
Usage: append_reference.py <imap-test.env> <folder> <copy folder> plain|tls <count>"""
import socket
import ssl
import sys
import time

env_path, folder, copy, security, count = sys.argv[1:6]
with open(env_path, encoding="utf-8") as f:
    env = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)


class Connection:
    def __init__(self):
        port = int(env["IMAP_TLS_PORT" if security == "tls" else "IMAP_PLAIN_PORT"])
        raw = socket.create_connection((env["IMAP_HOST"], port))
        if security == "tls":
            context = ssl.create_default_context()
            context.check_hostname = False
            context.verify_mode = ssl.CERT_NONE
            raw = context.wrap_socket(raw)
        self.sock, self.buffer, self.tag = raw, bytearray(), 0
        self.line()
        self.command(f'LOGIN {env["IMAP_USER"]} {env["IMAP_PASSWORD"]}')

    def line(self):
        while b"\r\n" not in self.buffer:
            self.buffer += self.sock.recv(1 << 16)
        end = self.buffer.index(b"\r\n")
        text = bytes(self.buffer[:end])
        del self.buffer[:end + 2]
        return text

    def literal(self, size):
        while len(self.buffer) < size:
            self.buffer += self.sock.recv(1 << 20)
        data = bytes(self.buffer[:size])
        del self.buffer[:size]
        return data

    def command(self, text, literal=None):
        """Runs a command; its untagged lines and literals (FETCH bodies) in order."""
        self.tag += 1
        tag = b"R%d" % self.tag
        if literal is None:
            self.sock.sendall(tag + b" " + text.encode() + b"\r\n")
        else:
            self.sock.sendall(tag + b" " + text.encode() + b" {%d}\r\n" % len(literal))
            assert self.line().startswith(b"+"), "no continuation"
            self.sock.sendall(literal + b"\r\n")
        lines, bodies = [], []
        while True:
            line = self.line()
            if line.startswith(tag + b" "):
                assert line.split()[1] == b"OK", line
                return lines, bodies
            lines.append(line)
            if line.endswith(b"}") and b"{" in line:
                bodies.append(self.literal(int(line[line.rindex(b"{") + 1:-1])))


connection = Connection()
lines, _ = connection.command(f'SELECT "{folder}"')
exists = next(int(line.split()[1]) for line in lines if line.endswith(b" EXISTS"))
_, messages = connection.command(f"FETCH {exists - int(count) + 1}:{exists} (BODY.PEEK[])")
connection.command(f'CREATE "{copy}"')
best = None
for run in range(3):
    start = time.perf_counter()
    for message in messages:
        connection.command(f'APPEND "{copy}"', message)
    seconds = time.perf_counter() - start
    best = seconds if best is None else min(best, seconds)
print(f"{len(messages)} x {sum(map(len, messages)) / len(messages) / (1 << 20):.2f} MiB MIME in {best:.3f} s")
