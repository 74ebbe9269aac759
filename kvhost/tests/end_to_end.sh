#!/usr/bin/env bash
# The main job end to end, as a user runs it: the admin tool makes a profile,
# kvhost exports two files into Mailbox#Inbox#Reports and saves the settled
# options (a block of this build's layout), the admin tool lists the folder,
# and the saved .msg files, read with python3-olefile, hold the exact bytes of
# the files. Few processes: under emulated 32-bit Wine each one takes
# about a minute to start.
#   end_to_end.sh <bin folder> <runner (scripts/wine-run or scripts/wine-run32)> <work folder>
set -euo pipefail
bin=$1
run=$2
work=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
. "$root/provider/msgfile/tests/reader_setup.sh"

export KV_MAPI_PROFILES
KV_MAPI_PROFILES=$(windows_path "$work/profiles.ini")
head -c 70001 "$work/source.bin" > "$work/report.pdf"
tail -c 4096 "$work/source.bin" > "$work/notes.txt"

echo "== profile"
"$run" "$bin/kvmapi-admin.exe" create-profile EndToEnd --store "Mailbox=$(windows_path "$work/mailbox")" \
  --folder "Mailbox#Inbox#Reports" --default | tr -d '\r'
echo "== export from profile and folder"
"$run" "$bin/kvhost.exe" --export --profile EndToEnd --folder "Mailbox#Inbox#Reports" \
  --save-options "$(windows_path "$work/saved.kvo")" \
  "$(windows_path "$work/report.pdf")" "$(windows_path "$work/notes.txt")" | tr -d '\r'
echo "== folder"
"$run" "$bin/kvmapi-admin.exe" messages "Mailbox#Inbox#Reports" | tr -d '\r' | tee "$work/listing.txt"

$python - "$work" <<'PY'
import glob, os, sys
import olefile
work = sys.argv[1]
expected = {"report.pdf": 1, "notes.txt": 1}
found = {}
for path in glob.glob(os.path.join(work, "mailbox", "**", "*.msg"), recursive=True):
    ole = olefile.OleFileIO(path)
    name = ole.openstream("__attach_version1.0_#00000000/__substg1.0_3707001F").read().decode("utf-16-le")
    data = ole.openstream("__attach_version1.0_#00000000/__substg1.0_37010102").read()
    with open(os.path.join(work, name), "rb") as source:
        if data != source.read():
            sys.exit("%s: the attachment differs from the file" % name)
    found[name] = found.get(name, 0) + 1
if found != expected:
    sys.exit("expected messages %s, found %s" % (expected, found))
saved = open(os.path.join(work, "saved.kvo"), "rb").read()
record = int.from_bytes(saved[0:2], "little")  # 18 on 32-bit, 30 on 64-bit; the block size ends it
if record not in (18, 30) or int.from_bytes(saved[record - 2:record], "little") != len(saved):
    sys.exit("saved.kvo is no options block of its own size")
listed = open(os.path.join(work, "listing.txt")).read()
for name in expected:
    if name not in listed:
        sys.exit("the folder listing lacks %s" % name)
print("end to end: 2 messages, exact bytes, listed; options block of %d bytes" % len(saved))
PY
