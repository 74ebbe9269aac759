#!/usr/bin/env bash
# Writes a sample posting with our writer (under Wine), then checks it with
# readers we did not write: python3-olefile for the file's layout and every
# value, msgconvert (libemail-outlook-message-perl) for what a mail program
# makes of it.
#   check_independent_readers.sh <msgfile_sample.exe> <work folder> <runner>
# The runner is this build's Wine (scripts/wine-run or scripts/wine-run32).
set -euo pipefail
sample=$1
work=$2
run=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../../.." && pwd)
. "$here/reader_setup.sh"

"$run" "$sample" "$(windows_path "$work/sample.msg")" "$(windows_path "$work/source.bin")"
[ -s "$work/sample.msg" ] || { echo "the sample program wrote no file" >&2; exit 1; }

echo "== olefile"
$python "$here/check_sample.py" olefile "$work/sample.msg" "$work/source.bin"

echo "== msgconvert"
(cd "$work" && msgconvert --outfile sample.eml sample.msg)
$python "$here/check_sample.py" eml "$work/sample.eml" "$work/source.bin"
echo "independent readers agree"
