#!/usr/bin/env python3
"""Reads the message imap_tests appended to Team/Reports with a client we did
not write (imaplib + email, as bob) and checks it against what the test sent.
Usage: check_message.py <imap-test.env>"""
import email
import email.policy
import imaplib
import sys


def settings(path):
    with open(path, encoding="utf-8") as f:
        return dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)


env = settings(sys.argv[1])
expected = settings(env["IMAP_HANDOFF"] + "/expected.env")
imap = imaplib.IMAP4(env["IMAP_HOST"], int(env["IMAP_PLAIN_PORT"]))
imap.login(env["IMAP_READER"], env["IMAP_READER_PASSWORD"])
imap.select("Team/Reports", readonly=True)
status, found = imap.uid("SEARCH", "HEADER", "Message-ID", expected["MESSAGE_ID"])
uids = found[0].split()
assert status == "OK" and len(uids) == 1, f"one message with {expected['MESSAGE_ID']}, found {found}"
status, data = imap.uid("FETCH", uids[0], "(RFC822)")
message = email.message_from_bytes(data[0][1], policy=email.policy.default)
imap.logout()

failures = []
def check(what, want, got):
    if want != got:
        failures.append(f"{what}: expected {want!r}, got {got!r}")

check("subject", expected["SUBJECT"], str(message["Subject"]))
check("class header", expected["CLASS"], str(message["X-MAPI-Message-Class"]))
check("sender", expected["FROM"], message["From"].addresses[0].addr_spec)
check("content type", "multipart/mixed", message.get_content_type())
attachments = list(message.iter_attachments())
check("attachments", 1, len(attachments))
if attachments:
    check("file name", expected["FILENAME"], attachments[0].get_filename())
    with open(expected["ATTACHMENT"], "rb") as f:
        sent, got = f.read(), attachments[0].get_content()
    if sent != got:
        failures.append(f"attachment bytes: sent {len(sent)}, read {len(got)}, differing from byte "
                        f"{next((i for i, (a, b) in enumerate(zip(sent, got)) if a != b), min(len(sent), len(got)))}")
check("body", "Grüße\r\n", message.get_body(("plain",)).get_content().replace("\n", "\r\n").replace("\r\r", "\r"))
if failures:
    print("\n".join(failures))
    sys.exit(1)
print(f"check_message: uid {uids[0].decode()} read back by imaplib and email as sent")
