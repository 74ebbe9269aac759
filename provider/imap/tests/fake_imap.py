#!/usr/bin/env python3
"""A scripted IMAP server for what Dovecot will not do: no UIDPLUS, no
LIST-STATUS, no STARTTLS, no AUTH=PLAIN (LOGIN only), "." as separator under an
"INBOX." namespace. The user "bye" gets a BYE half-way through an APPEND's
literal; "full" and "huge" get NO [OVERQUOTA] and NO [TOOBIG] in place of
its continuation. Usage: fake_imap.py <file to write the port to>"""
import re
import socket
import socketserver
import sys
import threading

lock = threading.Lock()
boxes = {"INBOX": [], "INBOX.Reports": []}  # name -> [(uid, message bytes)]
next_uid = {"INBOX": 1, "INBOX.Reports": 1}
TOKEN = re.compile(rb'"((?:[^"\\]|\\.)*)"|\(([^)]*)\)|(\S+)')


class Session(socketserver.StreamRequestHandler):
    def send(self, text):
        self.wfile.write(text.encode() + b"\r\n")

    def command(self):
        """One command with its literals read in; args as bytes."""
        line = self.rfile.readline()
        if not line:
            return None
        parts = []
        while True:
            m = re.search(rb"\{(\d+)\}\r\n$", line)
            if not m:
                parts.append(line.rstrip(b"\r\n"))
                break
            parts.append(line[:m.start()])
            size = int(m.group(1))
            verdict = self.literal_hook(parts, size)
            if verdict != "take":
                return None if verdict == "end" else []
            self.send("+ go on")
            parts.append(b'"' + self.rfile.read(size).replace(b"\\", b"\\\\").replace(b'"', b'\\"') + b'"')
            line = self.rfile.readline()
        tokens = [m.group(1) if m.group(1) is not None else m.group(0) for m in TOKEN.finditer(b"".join(parts))]
        return [t.replace(b'\\"', b'"').replace(b"\\\\", b"\\") for t in tokens]

    def literal_hook(self, parts, size):
        """"take" the literal, or the command was "answered", or the session is at its "end"."""
        head = b"".join(parts).split()
        if len(head) < 3 or head[1].upper() != b"APPEND":
            return "take"
        box = head[2].strip(b'"').decode()
        refusals = {b"full": "NO [OVERQUOTA] quota exceeded", b"huge": "NO [TOOBIG] message too large"}
        if box not in boxes or self.user in refusals:
            self.send(head[0].decode() + " " + refusals.get(self.user, "NO [TRYCREATE] no such mailbox"))
            return "answered"  # refused before the literal: nothing of it follows
        if self.user == b"bye":
            self.send("+ go on")
            self.rfile.read(size // 2)
            self.send("* BYE shutting down in the middle of your message")
            self.wfile.flush()
            self.request.shutdown(socket.SHUT_WR)
            while self.request.recv(65536):  # take the rest so the client sees no reset
                pass
            return "end"
        return "take"

    def handle(self):
        self.user = None
        selected = None
        self.send("* OK fake IMAP ready")
        while True:
            args = self.command()
            if args is None:
                return
            if len(args) < 2:
                continue
            tag, verb, rest = args[0].decode(), args[1].upper(), args[2:]
            if verb == b"UID":
                verb, rest = b"UID " + rest[0].upper(), rest[1:]
            if verb == b"CAPABILITY":
                self.send("* CAPABILITY IMAP4rev1 NAMESPACE")
            elif verb == b"LOGIN":
                self.user = rest[0]
            elif verb == b"NAMESPACE":
                self.send('* NAMESPACE (("INBOX." ".")) NIL NIL')
            elif verb == b"LIST" and rest[1] == b"":
                self.send('* LIST (\\Noselect) "." ""')
            elif verb == b"LIST":
                for name in sorted(boxes):
                    self.send('* LIST (\\HasNoChildren) "." "%s"' % name)
            elif verb == b"STATUS":
                name = rest[0].decode()
                self.send("* STATUS \"%s\" (MESSAGES %d UNSEEN 0)" % (name, len(boxes[name])))
            elif verb == b"CREATE":
                with lock:
                    boxes.setdefault(rest[0].decode(), [])
                    next_uid.setdefault(rest[0].decode(), 1)
            elif verb == b"APPEND":
                name = rest[0].decode()
                if name not in boxes:
                    continue  # answered before the literal
                with lock:
                    boxes[name].append((next_uid[name], rest[-1]))
                    next_uid[name] += 1
            elif verb in (b"SELECT", b"EXAMINE"):
                selected = rest[0].decode()
                self.send("* %d EXISTS" % len(boxes[selected]))
                self.send("* OK [UIDVALIDITY 7] uids valid")
                self.send("* OK [UIDNEXT %d] next" % next_uid[selected])
            elif verb == b"UID SEARCH":
                wanted = b"message-id: " + rest[-1].lower()
                uids = [str(uid) for uid, message in boxes[selected] if wanted in message.lower()]
                self.send("* SEARCH " + " ".join(uids))
            elif verb == b"LOGOUT":
                self.send("* BYE see you")
                self.send(tag + " OK done")
                return
            else:
                self.send(tag + " BAD unknown command")
                continue
            self.send(tag + " OK done")


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True


server = Server(("127.0.0.1", 0), Session)
with open(sys.argv[1] + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
import os
os.rename(sys.argv[1] + ".tmp", sys.argv[1])
server.serve_forever()
