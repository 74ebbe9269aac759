#!/usr/bin/env bash
# Posts a document and a report through the provider's MAPI interfaces
# (provider_test_poster.exe, under Wine), then checks the saved .msg files
# with readers we did not write: python3-olefile for the layout and every
# value, msgconvert (libemail-outlook-message-perl) for what a mail program
# makes of them. Last, the admin tool lists the folder and extracts the
# document's attachment, which must equal the posted file.
#   check_posted_message.sh <provider_test_poster.exe> <kvmapi-admin.exe> <work folder> <runner>
# The runner is this build's Wine (scripts/wine-run or scripts/wine-run32).
set -euo pipefail
poster=$1
admin=$2
work=$3
run=$4
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
. "$root/provider/msgfile/tests/reader_setup.sh"

export KV_MAPI_PROFILES
KV_MAPI_PROFILES=$(windows_path "$work/profiles.ini")
"$run" "$admin" create-profile Berichte --store "Postfach=$(windows_path "$work/postfach")" \
  --folder "Postfach#Berichte" --default >/dev/null
"$run" "$poster" sample Berichte Postfach Berichte "$(windows_path "$work/source.bin")" \
  | tr -d '\r' > "$work/posted.txt"
cat "$work/posted.txt"
document=$(sed -n 's/^posted //p' "$work/posted.txt" | sed -n 1p)
report=$(sed -n 's/^posted //p' "$work/posted.txt" | sed -n 2p)
[ -n "$document" ] && [ -n "$report" ] || { echo "the poster saved no message" >&2; exit 1; }
document_path=$(find "$work/postfach" -name "$document")
report_path=$(find "$work/postfach" -name "$report")
[ -s "$document_path" ] && [ -s "$report_path" ] || { echo "the saved files are not where the index says" >&2; exit 1; }

status=0
for kind in document report; do
  path=${kind}_path
  echo "== olefile, $kind"
  $python "$here/check_posting.py" olefile "${!path}" "$work/source.bin" "$kind" || status=1
  echo "== msgconvert, $kind"
  cp "${!path}" "$work/$kind.msg"
  (cd "$work" && msgconvert --outfile "$kind.eml" "$kind.msg")
  $python "$here/check_posting.py" eml "$work/$kind.eml" "$work/source.bin" "$kind" || status=1
done

echo "== kvmapi-admin"
"$run" "$admin" messages "Postfach#Berichte" | tr -d '\r' | tee "$work/listing.txt"
grep -q "^  ${document%.msg}  IPM.DOCUMENT.PDF  \"Quartalsbericht Übersicht.pdf\"$" "$work/listing.txt" || {
  echo "the listing lacks the document" >&2
  status=1
}
grep -q "^      attachment 1: Quartalsbericht Übersicht.pdf (307323 bytes)$" "$work/listing.txt" || {
  echo "the listing lacks the attachment's name and size" >&2
  status=1
}
grep -q "(associated) IPM.ZORLAN.REPORT.TEMPLATE  \"Quartalsbericht Übersicht.pdf\"  display name \"Quartalsübersicht\"" \
  "$work/listing.txt" || { echo "the listing lacks the report" >&2; status=1; }
"$run" "$admin" extract "Postfach#Berichte" "${document:0:8}" 1 "$(windows_path "$work/extracted.pdf")"
cmp "$work/source.bin" "$work/extracted.pdf" || { echo "the extracted attachment differs" >&2; status=1; }

[ $status -eq 0 ] && echo "independent readers and the admin tool agree"
exit $status
