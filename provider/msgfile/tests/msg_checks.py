"""What the checks of saved .msg files share: mismatches collected as
"expected X, got Y", property streams read with python3-olefile, headers of
msgconvert's output, and the exit status (the number of mismatches, capped).
"""
import datetime
import struct
import sys

MESSAGE_CLSID = "00020D0B-0000-0000-C000-000000000046"

failures = []


def expect(what, expected, actual):
    if expected != actual:
        shown = lambda v: repr(v) if not isinstance(v, bytes) or len(v) < 64 else "%d bytes" % len(v)
        failures.append("%s: expected %s, got %s" % (what, shown(expected), shown(actual)))


def filetime(value):
    return datetime.datetime(1601, 1, 1, tzinfo=datetime.timezone.utc) + datetime.timedelta(microseconds=value // 10)


def entries_of(ole, storage, header):
    """The header and the entries of a property stream: tag -> 8 value bytes."""
    data = ole.openstream(storage + ["__properties_version1.0"]).read()
    entries = {}
    for at in range(header, len(data) - 15, 16):
        tag = struct.unpack_from("<I", data, at)[0]
        entries[tag] = data[at + 8:at + 16]
    return data[:header], entries


def check_object(ole, storage, header, strings, binaries, fixed):
    """Every variable-length entry has its stream with the size the entry
    gives; strings, byte blocks and fixed values (all 8 bytes) as expected."""
    head, entries = entries_of(ole, storage, header)
    for tag, value in entries.items():
        kind = tag & 0xFFFF
        if kind in (0x001F, 0x001E, 0x0102):
            name = "/".join(storage + ["__substg1.0_%08X" % tag])
            expect("stream of %08X exists" % tag, True, ole.exists(name))
            if ole.exists(name):
                extra = {0x001F: 2, 0x001E: 1, 0x0102: 0}[kind]
                expect("size field of %08X" % tag, ole.get_size(name) + extra, struct.unpack_from("<I", value)[0])
    for tag, text in strings.items():
        expect("entry %08X" % tag, True, tag in entries)
        if tag in entries:
            raw = ole.openstream(storage + ["__substg1.0_%08X" % tag]).read()
            expect("value of %08X" % tag, text, raw.decode("utf-16-le"))
    for tag, data in binaries.items():
        expect("entry %08X" % tag, True, tag in entries)
        if tag in entries:
            expect("value of %08X" % tag, data, ole.openstream(storage + ["__substg1.0_%08X" % tag]).read())
    for tag, number in fixed.items():
        expect("entry %08X" % tag, True, tag in entries)
        if tag in entries:
            expect("value of %08X" % tag, number, struct.unpack_from("<Q", entries[tag])[0])
    return head, entries


def check_times(entries, posted):
    for tag in (0x00390040, 0x0E060040):
        expect("entry %08X" % tag, True, tag in entries)
        if tag in entries:
            expect("time %08X" % tag, posted, filetime(struct.unpack_from("<Q", entries[tag])[0]))


def check_named_property_streams(ole):
    for tag in ("00020102", "00030102", "00040102"):
        expect("named property stream " + tag, True, ole.exists("__nameid_version1.0/__substg1.0_" + tag))


def unicode_support(entries):
    return struct.unpack_from("<I", entries.get(0x340D0003, bytes(8)))[0] & 0x00040000


def raw_header(data, name):
    """A top-level header as text. msgconvert writes non-ASCII header text
    unencoded, as Latin-1 bytes when every character fits; read it back so."""
    head = data.split(b"\r\n\r\n", 1)[0].split(b"\n\n", 1)[0]
    for line in head.splitlines():
        if line.lower().startswith(name.lower().encode() + b":"):
            value = line.split(b":", 1)[1].strip()
            try:
                return value.decode("utf-8")
            except UnicodeDecodeError:
                return value.decode("latin-1")
    return None


def finish(success):
    for failure in failures:
        print("MISMATCH " + failure)
    if not failures:
        print(success)
    sys.exit(min(len(failures), 100))
