#!/usr/bin/env bash
# The mail servers of the IMAP tests, all inside <dir> (a folder of the build tree):
#   dovecot.sh start <dir>   a Dovecot 2.3 with users alice, bob and carol, a
#                            public Team/ namespace (Team/Reports writable,
#                            Team/ReadOnly read-only for bob, Team/Archive a
#                            container that holds no messages), a plain and a
#                            TLS listener, TLS listeners with an expired
#                            certificate on 127.0.0.2 and with a certificate
#                            that does not name 127.0.0.3, and the scripted
#                            fake server; writes <dir>/imap-test.env for the tests
#   dovecot.sh stop <dir>    ends them
set -euo pipefail
action=$1
dir=$(mkdir -p "$2" && cd "$2" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

stop() {
  for pidfile in "$dir/dovecot.pgid" "$dir/fake.pid"; do
    [ -f "$pidfile" ] || continue
    # Dovecot takes seconds to stop by itself: end its whole process group.
    kill -TERM -- "-$(cat "$pidfile")" 2>/dev/null || kill -TERM "$(cat "$pidfile")" 2>/dev/null || true
    rm -f "$pidfile"
  done
}
if [ "$action" = stop ]; then
  stop
  exit 0
fi
[ "$action" = start ] || { echo "usage: dovecot.sh start|stop <dir>" >&2; exit 2; }

command -v dovecot >/dev/null || { echo "dovecot.sh: dovecot not found (Debian package dovecot-imapd, scripts/setup-deps)" >&2; exit 1; }
version=$(dovecot --version)
case "$version" in
  2.3.*) ;;
  *) echo "dovecot.sh: the configuration here is written for Dovecot 2.3; this is $version (2.4 changed the syntax)" >&2; exit 1 ;;
esac
stop
rm -rf "${dir:?}"/{run,log,mail,public,handoff}
mkdir -p "$dir"/{run,log,mail,public,handoff}

if [ "$(id -u)" -eq 0 ]; then
  # Dovecot's login processes refuse to run as root.
  user=nobody group=nogroup
  as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
else
  user=$(id -un) group=$(id -gn)
  as_user=()
fi
uid=$(id -u "$user")
gid=$(getent group "$group" | cut -d: -f3)

# Each port free on the address that listens on it (another fixture may use the others).
read -r plain tls expired othername unused < <(python3 -c '
import socket
socks = [socket.socket() for _ in range(5)]
for s, address in zip(socks, ["127.0.0.1", "127.0.0.1", "127.0.0.2", "127.0.0.3", "127.0.0.1"]): s.bind((address, 0))
print(*[s.getsockname()[1] for s in socks])')

certificate() {  # name, then "valid" or "expired"
  if [ "$2" = valid ]; then
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj /CN=localhost \
      -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" -keyout "$dir/$1-key.pem" -out "$dir/$1.pem" 2>/dev/null
  else
    # openssl req cannot date a certificate in the past; openssl ca can.
    local ca="$dir/ca-$1"
    mkdir -p "$ca" && : >"$ca/index" && echo 01 >"$ca/serial"
    printf '%s\n' '[ca]' 'default_ca = d' '[d]' "database = $ca/index" "new_certs_dir = $ca" "serial = $ca/serial" \
      'default_md = sha256' 'policy = p' 'x509_extensions = e' '[p]' 'commonName = supplied' \
      '[e]' 'subjectAltName = DNS:localhost,IP:127.0.0.2' >"$ca/ca.cnf"
    openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj /CN=localhost \
      -keyout "$dir/$1-key.pem" -out "$ca/request.csr" 2>/dev/null
    openssl ca -batch -config "$ca/ca.cnf" -selfsign -keyfile "$dir/$1-key.pem" -in "$ca/request.csr" \
      -out "$dir/$1.pem" -startdate 20200101000000Z -enddate 20200102000000Z -notext 2>/dev/null
  fi
  openssl x509 -in "$dir/$1.pem" -outform DER | sha256sum | cut -d' ' -f1
}
pin=$(certificate cert valid)
expired_pin=$(certificate expired expired)

printf '%s\n' 'alice:{PLAIN}alice-secret::::::' 'bob:{PLAIN}bob-secret::::::' 'carol:{PLAIN}carol-secret::::::' \
  >"$dir/users"
echo 'anyone lrwstipekxa' >"$dir/public/dovecot-acl"
cat >"$dir/dovecot.conf" <<EOF
protocols = imap
listen = 127.0.0.1, 127.0.0.2, 127.0.0.3
base_dir = $dir/run
state_dir = $dir/run/state
log_path = $dir/log/dovecot.log
info_log_path = $dir/log/dovecot.log
default_internal_user = $user
default_internal_group = $group
default_login_user = $user
ssl = yes
ssl_cert = <$dir/cert.pem
ssl_key = <$dir/cert-key.pem
ssl_min_protocol = TLSv1.2
local 127.0.0.2 {
  ssl_cert = <$dir/expired.pem
  ssl_key = <$dir/expired-key.pem
}
auth_mechanisms = plain
passdb {
  driver = passwd-file
  args = $dir/users
}
userdb {
  driver = passwd-file
  args = $dir/users
  default_fields = uid=$uid gid=$gid home=$dir/mail/%u
}
mail_location = maildir:~/Maildir:LAYOUT=fs
namespace inbox {
  separator = /
  prefix =
  inbox = yes
}
namespace team {
  type = public
  separator = /
  prefix = Team/
  location = maildir:$dir/public:LAYOUT=fs:INDEXPVT=~/public-pvt
  list = yes
  subscriptions = no
}
mail_plugins = acl
protocol imap {
  mail_plugins = \$mail_plugins imap_acl
  mail_max_userip_connections = 100
}
plugin {
  acl = vfile
}
service anvil {
  chroot =
}
service stats {
  chroot =
}
service imap-login {
  chroot =
  inet_listener imap {
    address = 127.0.0.1
    port = $plain
  }
  inet_listener imaps {
    address = 127.0.0.1
    port = $tls
    ssl = yes
  }
  inet_listener imaps_expired {
    address = 127.0.0.2
    port = $expired
    ssl = yes
  }
  inet_listener imaps_other_name {
    address = 127.0.0.3
    port = $othername
    ssl = yes
  }
}
EOF
[ "$(id -u)" -eq 0 ] && chown -R "$user:$group" "$dir"

setsid "${as_user[@]}" dovecot -F -c "$dir/dovecot.conf" </dev/null >"$dir/log/master.out" 2>&1 &
echo $! >"$dir/dovecot.pgid"
setsid python3 "$here/fake_imap.py" "$dir/fake.port" </dev/null >"$dir/log/fake.out" 2>&1 &
echo $! >"$dir/fake.pid"

greeted() {
  python3 -c 'import socket, sys
s = socket.create_connection((sys.argv[1], int(sys.argv[2])), 1)
sys.exit(0 if s.recv(100).startswith(b"* OK") else 1)' "$1" "$2" 2>/dev/null
}
for _ in $(seq 1 100); do
  greeted 127.0.0.1 "$plain" && [ -s "$dir/fake.port" ] && break
  sleep 0.1
done
greeted 127.0.0.1 "$plain" || { echo "dovecot.sh: Dovecot did not greet; see $dir/log" >&2; cat "$dir/log/"* >&2; stop; exit 1; }
[ -s "$dir/fake.port" ] || { echo "dovecot.sh: the fake server did not start" >&2; cat "$dir/log/fake.out" >&2; stop; exit 1; }

doveadm() { "${as_user[@]}" /usr/bin/doveadm -c "$dir/dovecot.conf" "$@"; }
doveadm mailbox create -u alice Team/Reports Team/ReadOnly Team/Archive/2024
# bob reads Team/ReadOnly and nothing more; everyone else keeps the namespace's rights.
doveadm acl set -u alice Team/ReadOnly user=bob lookup read

cat >"$dir/imap-test.env" <<EOF
IMAP_HOST=127.0.0.1
IMAP_PLAIN_PORT=$plain
IMAP_TLS_PORT=$tls
IMAP_EXPIRED_HOST=127.0.0.2
IMAP_EXPIRED_PORT=$expired
IMAP_OTHER_NAME_HOST=127.0.0.3
IMAP_OTHER_NAME_PORT=$othername
IMAP_UNUSED_PORT=$unused
IMAP_PIN=$pin
IMAP_EXPIRED_PIN=$expired_pin
IMAP_FAKE_PORT=$(cat "$dir/fake.port")
IMAP_USER=alice
IMAP_PASSWORD=alice-secret
IMAP_READER=bob
IMAP_READER_PASSWORD=bob-secret
IMAP_THIRD=carol
IMAP_THIRD_PASSWORD=carol-secret
IMAP_HANDOFF=$dir/handoff
IMAP_CONF=$dir/dovecot.conf
EOF
chmod a+rwx "$dir/handoff"
echo "dovecot.sh: Dovecot $version on 127.0.0.1:$plain (plain), :$tls (TLS), 127.0.0.2:$expired (expired certificate)"
