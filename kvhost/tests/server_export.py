#!/usr/bin/env python3
"""The main job into a store on an IMAP server, end to end: kvmapi-admin makes
the profile, kvhost posts through the real KV2FOLD.dll and our MAPI32.DLL as
alice, and bob reads every message back with clients we did not write
(imaplib and email): count, subject, class header, sender, the decoded file
name and the attachment's bytes. Then what a user reads when the export
fails, with the server's count unchanged.
Usage: server_export.py <bin dir> <Wine runner> <work dir> <imap-test.env>"""
import email
import email.policy
import email.utils
import imaplib
import os
import shutil
import subprocess
import sys

bin_dir, runner, work, env_path = sys.argv[1:5]
with open(env_path, encoding="utf-8") as f:
    env = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
os.environ["KV_MAPI_PROFILES"] = "Z:" + os.path.join(work, "profiles.ini").replace("/", "\\")
failures = []


def windows(path):
    return "Z:" + path.replace("/", "\\")


def run(program, *arguments):
    done = subprocess.run([runner, os.path.join(bin_dir, program), *arguments], capture_output=True)
    return done.returncode, done.stdout.decode("utf-8", "replace") + done.stderr.decode("utf-8", "replace")


def profile(name, user, password, port="IMAP_TLS_PORT", *extra):
    code, out = run("kvmapi-admin.exe", "create-profile", name, "--server", f"Team=127.0.0.1:{env[port]}",
                    "--login", user, "--root", "Team/", "--pin", env["IMAP_PIN"], "--password", password,
                    "--user", "Alice Adams", "--address", "alice@example.org", *extra)
    assert code == 0, out


def messages(mailbox):
    imap = imaplib.IMAP4(env["IMAP_HOST"], int(env["IMAP_PLAIN_PORT"]))
    imap.login(env["IMAP_READER"], env["IMAP_READER_PASSWORD"])
    imap.select(f'"{mailbox}"', readonly=True)
    _, found = imap.uid("SEARCH", "ALL")
    read = [email.message_from_bytes(imap.uid("FETCH", uid, "(RFC822)")[1][0][1], policy=email.policy.default)
            for uid in found[0].split()]
    imap.logout()
    return read


def check(what, want, got):
    if want != got:
        failures.append(f"{what}: expected {want!r}, got {got!r}")


# Two files posted in one export as alice, read back as bob.
profile("Team", "alice", env["IMAP_PASSWORD"], "IMAP_TLS_PORT", "--folder", "Team#Exports")
sources = {"Quartalsbericht Größe €.pdf": b"%PDF-1.4\n" + os.urandom(200000), "data.bin": os.urandom(3 << 20)}
classes = {"Quartalsbericht Größe €.pdf": "IPM.DOCUMENT.*PDF", "data.bin": "IPM.DOCUMENT.*BIN"}
for name, data in sources.items():
    with open(os.path.join(work, name), "wb") as f:
        f.write(data)
code, out = run("kvhost.exe", "--export", "--profile", "Team", "--password", env["IMAP_PASSWORD"], "--folder",
                "Team#Exports", *[windows(os.path.join(work, name)) for name in sources])
check("kvhost exit code", 0, code)
read = messages("Team/Exports")
check("messages", len(sources), len(read))
for message in read:
    name = str(message["Subject"])
    attachments = list(message.iter_attachments())
    check(f"{name}: attachments", 1, len(attachments))
    if name not in sources or not attachments:
        failures.append(f"a message not posted here: {name!r}")
        continue
    check(f"{name}: class header", classes[name], str(message["X-MAPI-Message-Class"]))
    check(f"{name}: sender", ("Alice Adams", "alice@example.org"), email.utils.parseaddr(str(message["From"])))
    check(f"{name}: file name", name, attachments[0].get_filename())
    check(f"{name}: bytes", sources[name], attachments[0].get_content())

# What the user reads when it fails; the server keeps what it had.
profile("Bob", "bob", env["IMAP_READER_PASSWORD"])
rows = [
    ("wrong password", ["--profile", "Team", "--password", "not-hers", "--folder", "Team#Exports"],
     "KVEInitExportDestinationW returned -1", "Team/Exports"),
    ("read-only folder", ["--profile", "Bob", "--password", env["IMAP_READER_PASSWORD"], "--folder", "Team#ReadOnly"],
     "No access right to post file to Exchange Folders.", "Team/ReadOnly"),
    ("a container that holds no messages",
     ["--profile", "Team", "--password", env["IMAP_PASSWORD"], "--folder", "Team#Archive"],
     'The file "data.bin" was not posted: MAPI object not found.', None),
]
for what, arguments, text, mailbox in rows:
    before = len(messages(mailbox)) if mailbox else 0
    code, out = run("kvhost.exe", "--export", *arguments, windows(os.path.join(work, "data.bin")))
    check(f"{what}: exit code", 1, code)
    if text not in out:
        failures.append(f"{what}: {text!r} not in kvhost's output:\n{out}")
    if mailbox:
        check(f"{what}: messages in {mailbox}", before, len(messages(mailbox)))

if failures:
    print("\n".join(failures))
    sys.exit(1)
print(f"server_export: {len(sources)} files read back by imaplib and email as posted; {len(rows)} failures as told")
