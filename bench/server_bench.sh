#!/usr/bin/env bash
# Postings into a store on an IMAP server against a client we did not write:
# starts a Dovecot in <build>/server-bench (provider/imap/tests/dovecot.sh),
# posts 256 MiB once and 1,000 files of 10 KiB through MAPI32.DLL with
# server_bench.exe, plain and over TLS, then appends the very MIME messages
# the provider sent with python's raw sockets (append_reference.py) and prints
# both times (the best of three runs each), their ratio and the provider's
# working set.
#   bench/server_bench.sh [build dir] [--large-mib N] [--count N]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$root/build/win64}" && pwd)
shift || true
large=256 count=1000
while [ $# -gt 0 ]; do
  case $1 in
    --large-mib) large=$2; shift 2 ;;
    --count) count=$2; shift 2 ;;
    *) echo "usage: server_bench.sh [build dir] [--large-mib N] [--count N]" >&2; exit 2 ;;
  esac
done
dir="$build/server-bench"
windows() { printf 'Z:%s' "${1//\//\\}"; }
bash "$root/provider/imap/tests/dovecot.sh" start "$dir/servers" >/dev/null
trap 'bash "$root/provider/imap/tests/dovecot.sh" stop "$dir/servers"' EXIT
# shellcheck disable=SC1091
. "$dir/servers/imap-test.env"
export KV_MAPI_PROFILES="$(windows "$dir/profiles.ini")"
run() { "$root/scripts/wine-run" "$build/bin/$1" "${@:2}"; }
run kvmapi-admin.exe create-profile tls --server "Team=127.0.0.1:$IMAP_TLS_PORT" --login alice --root Team/ \
  --pin "$IMAP_PIN" --password "$IMAP_PASSWORD" --folder "Team#large tls" --folder "Team#small tls" >/dev/null
run kvmapi-admin.exe create-profile plain --server "Team=127.0.0.1:$IMAP_PLAIN_PORT" --security none --login alice \
  --root Team/ --password "$IMAP_PASSWORD" --folder "Team#large plain" --folder "Team#small plain" >/dev/null

seconds() { sed -n 's/.* in \([0-9.]*\) s.*/\1/p'; }
printf '%-22s %-80s %s\n' "case" "provider (server_bench.exe)" "raw-socket APPEND (python), ratio"
for security in plain tls; do
  for size in large small; do
    if [ $size = large ]; then what=(--large-mib "$large"); else what=(--count "$count" --kib 10); fi
    mine=$(run server_bench.exe --profile $security --password "$IMAP_PASSWORD" --folder "$size $security" \
      "${what[@]}" "$(windows "$dir/work")" | tr -d '\r')
    messages=$([ $size = large ] && echo 1 || echo "$count")
    theirs=$(python3 "$root/bench/append_reference.py" "$dir/servers/imap-test.env" "Team/$size $security" \
      "Team/$size $security copy" $security "$messages")
    ratio=$(awk -v a="$(echo "$mine" | seconds)" -v b="$(echo "$theirs" | seconds)" 'BEGIN { printf "%.2f", a / b }')
    printf '%-22s %-80s %s, %sx\n' "$size, $security" "$mine" "$theirs" "$ratio"
  done
done
