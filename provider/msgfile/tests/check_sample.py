"""Checks the sample posting with readers we did not write.

  check_sample.py olefile <sample.msg> <attachment source>
  check_sample.py eml <sample.eml from msgconvert> <attachment source>

The expected values are those msgfile_sample writes; each mismatch is
reported, and the exit status is the number of mismatches (capped).
"""
import datetime
import email
import email.policy
import email.utils
import struct
import sys

from msg_checks import (MESSAGE_CLSID, check_named_property_streams, check_object, check_times, expect, finish,
                        raw_header, unicode_support)

SUBJECT = "Quartalsbericht \u00dcbersicht.pdf"
MESSAGE_CLASS = "IPM.DOCUMENT.PDF"
SENDER = "Berichtsdienst K\u00f6ln"
BODY = "Automatisch erstellter Bericht.\r\nZweite Zeile: \u00e4\u00f6\u00fc\u00df."
POSTED = datetime.datetime(2024, 3, 15, 12, 34, 56, tzinfo=datetime.timezone.utc)


def check_olefile(path, source):
    import olefile

    expect("is a compound file", True, olefile.isOleFile(path))
    ole = olefile.OleFileIO(path)
    expect("root class id", MESSAGE_CLSID, ole.root.clsid)
    head, entries = check_object(
        ole, [], 32,
        {0x0037001F: SUBJECT, 0x001A001F: MESSAGE_CLASS, 0x0070001F: SUBJECT, 0x0C1A001F: SENDER,
         0x0042001F: SENDER, 0x1000001F: BODY},
        {},
        {0x00170003: 1, 0x00360003: 0})
    expect("next recipient id, next attachment id", (0, 2), struct.unpack_from("<II", head, 8))
    expect("recipient count, attachment count", (0, 2), struct.unpack_from("<II", head, 16))
    check_times(entries, POSTED)
    expect("sender entry id present", True, 0x0C190102 in entries)
    expect("store support mask allows Unicode", 0x00040000, unicode_support(entries))

    check_object(ole, ["__attach_version1.0_#00000000"], 8,
                 {0x3707001F: SUBJECT, 0x3703001F: "pdf", 0x3704001F: "Quartals.pdf", 0x3001001F: SUBJECT},
                 {0x37010102: source}, {0x37050003: 1})
    check_object(ole, ["__attach_version1.0_#00000001"], 8,
                 {0x3707001F: "leer.txt"}, {0x37010102: b""}, {0x37050003: 1})
    check_named_property_streams(ole)
    ole.close()


def check_eml(path, source):
    with open(path, "rb") as handle:
        data = handle.read()
    mail = email.message_from_bytes(data, policy=email.policy.default)
    expect("Subject", SUBJECT, raw_header(data, "Subject"))
    expect("From", SENDER, (raw_header(data, "From") or "").strip('"'))
    expect("Date", POSTED, email.utils.parsedate_to_datetime(str(mail["Date"])))
    body = mail.get_body(preferencelist=("plain",))
    expect("has a text body", True, body is not None)
    if body is not None:
        expect("body", BODY.replace("\r\n", "\n"), body.get_content().replace("\r\n", "\n").rstrip("\n"))
    attachments = [(part.get_filename(), part.get_payload(decode=True)) for part in mail.iter_attachments()]
    expect("attachment names", [SUBJECT, "leer.txt"], [name for name, _ in attachments])
    if len(attachments) == 2:
        expect("attachment bytes", source, attachments[0][1])
        expect("empty attachment", b"", attachments[1][1] or b"")


def main():
    mode, path, source_path = sys.argv[1:4]
    with open(source_path, "rb") as handle:
        source = handle.read()
    {"olefile": check_olefile, "eml": check_eml}[mode](path, source)
    finish("%s: all values as written" % mode)


main()
