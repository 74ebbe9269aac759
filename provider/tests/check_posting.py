"""Checks a message the provider saved, with readers we did not write.

  check_posting.py olefile <message.msg> <attachment source> document|report
  check_posting.py eml <message.eml from msgconvert> <attachment source> document|report

The expected values are those provider_test_poster's "sample" mode posts
through the provider's MAPI interfaces. Each mismatch is reported; the exit
status is the number of mismatches (capped).
"""
import datetime
import email
import email.policy
import email.utils
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "msgfile", "tests"))
from msg_checks import (MESSAGE_CLSID, check_named_property_streams, check_object, check_times, expect, finish,
                        raw_header, unicode_support)

SUBJECT = "Quartalsbericht \u00dcbersicht.pdf"
SENDER = "Berichtsdienst K\u00f6ln"
POSTED = datetime.datetime(2024, 3, 15, 12, 34, 56, tzinfo=datetime.timezone.utc)
KINDS = {
    "document": {"class": "IPM.DOCUMENT.PDF", "flags": 0x10, "texts": {}},
    "report": {
        "class": "IPM.ZORLAN.REPORT.TEMPLATE",
        "flags": 0x50,  # unread, with attachment, associated
        "texts": {
            0x3001001F: "Quartals\u00fcbersicht",
            0x3004001F: "Umsatz je Region",
            0x1000001F: "Automatisch erstellter Bericht.\r\nZweite Zeile: \u00e4\u00f6\u00fc\u00df.",
        },
    },
}


def check_olefile(path, source, kind):
    import olefile

    expected = KINDS[kind]
    expect("is a compound file", True, olefile.isOleFile(path))
    ole = olefile.OleFileIO(path)
    expect("root class id", MESSAGE_CLSID, ole.root.clsid)
    strings = {0x0037001F: SUBJECT, 0x001A001F: expected["class"], 0x0070001F: SUBJECT, 0x0C1A001F: SENDER,
               0x0042001F: SENDER}
    strings.update(expected["texts"])
    head, entries = check_object(ole, [], 32, strings, {},
                                 {0x00170003: 1, 0x00360003: 0, 0x0E070003: expected["flags"]})
    expect("next recipient id, next attachment id", (0, 1), struct.unpack_from("<II", head, 8))
    expect("recipient count, attachment count", (0, 1), struct.unpack_from("<II", head, 16))
    check_times(entries, POSTED)
    for tag in (0x0C190102, 0x0C1D0102, 0x00410102, 0x003B0102):
        expect("sender entry %08X present" % tag, True, tag in entries)
    expect("store support mask allows Unicode", 0x00040000, unicode_support(entries))
    _, attachment = check_object(
        ole, ["__attach_version1.0_#00000000"], 8,
        {0x3707001F: SUBJECT, 0x3703001F: "pdf", 0x3704001F: "Quartals.pdf", 0x3001001F: SUBJECT},
        {0x37010102: source}, {0x37050003: 1})
    expect("attachment size covers its data", True,
           struct.unpack_from("<I", attachment.get(0x0E200003, bytes(8)))[0] >= len(source))
    expect("only one attachment", False, ole.exists("__attach_version1.0_#00000001"))
    check_named_property_streams(ole)
    ole.close()


def check_eml(path, source, kind):
    with open(path, "rb") as handle:
        data = handle.read()
    mail = email.message_from_bytes(data, policy=email.policy.default)
    expect("Subject", SUBJECT, raw_header(data, "Subject"))
    expect("From", SENDER, (raw_header(data, "From") or "").strip('"'))
    expect("Date", POSTED, email.utils.parsedate_to_datetime(str(mail["Date"])))
    body_text = KINDS[kind]["texts"].get(0x1000001F)
    if body_text is not None:
        body = mail.get_body(preferencelist=("plain",))
        expect("has a text body", True, body is not None)
        if body is not None:
            expect("body", body_text.replace("\r\n", "\n"), body.get_content().replace("\r\n", "\n").rstrip("\n"))
    attachments = [(part.get_filename(), part.get_payload(decode=True)) for part in mail.iter_attachments()]
    expect("attachment names", [SUBJECT], [name for name, _ in attachments])
    if len(attachments) == 1:
        expect("attachment bytes", source, attachments[0][1])


def main():
    mode, path, source_path, kind = sys.argv[1:5]
    with open(source_path, "rb") as handle:
        source = handle.read()
    {"olefile": check_olefile, "eml": check_eml}[mode](path, source, kind)
    finish("%s, %s: all values as posted" % (mode, kind))


main()
