# Sourced by the checks with readers we did not write: makes sure
# python3-olefile and msgconvert are there, makes the work folder afresh
# with source.bin (300 KiB and 123 bytes, not a multiple of 4096), and
# defines windows_path. Expects $root (the repository) and $work.
python=/usr/bin/python3

{ command -v msgconvert && perl -MEmail::Address -e 1 && $python -c 'import olefile'; } >/dev/null 2>&1 || "$root/scripts/setup-deps"

rm -rf "$work"
mkdir -p "$work"
$python -c 'import random,sys; random.seed(20240315); sys.stdout.buffer.write(bytes(random.getrandbits(8) for _ in range(307323)))' \
  > "$work/source.bin"

windows_path() { echo "Z:${1//\//\\}"; }
