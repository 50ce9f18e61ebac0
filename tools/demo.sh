#!/usr/bin/env bash
# Starts Dovecot POP3 and an SMTP server on 127.0.0.1 with a demo account whose
# mailbox holds a dozen sample Japanese mails, makes a demo data root whose
# server settings and account point at them, and opens Hollin there. Mail sent
# to the demo address arrives back in the demo mailbox. Quitting Hollin stops
# the servers. Usage: tools/demo.sh BUILD_DIR [hollin arguments]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1
shift

demo=${HOLLIN_DEMO_DIR:-/tmp/hollin-demo}
user=demo
password=demo
address=demo@hollin.example

rm -rf "$demo"
mkdir -p "$demo/mail" "$demo/root"
/usr/bin/python3 tools/demo/make_samples.py "$demo/mail" "$address"

"$build/tools/hollin-mailservers" --user "$user" --password "$password" --address "$address" \
  --mail "$demo/mail" > "$demo/servers.txt" &
servers=$!
trap 'kill $servers 2>/dev/null; wait $servers 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  grep -q '^SMTP=' "$demo/servers.txt" 2>/dev/null && break
  kill -0 $servers 2>/dev/null || { echo "the demo mail servers did not start" >&2; exit 1; }
  sleep 0.1
done
pop3=$(sed -n 's/^POP3=//p' "$demo/servers.txt")
smtp=$(sed -n 's/^SMTP=//p' "$demo/servers.txt")

# Server settings and account, in the files' own format (CP932 text, CR LF).
mkdir -p "$demo/root/★MailData"
printf 'SMTP=%s\r\nPOP3=%s\r\nMAIL=%s\r\nAPOP=0\r\n' "$smtp" "$pop3" "$address" > "$demo/root/hlmail.ini"
printf '[EXEINI]\r\nNAME=%s\r\nNAME2=%s\r\nNAME3=1\r\n' "$user" "$password" > "$demo/root/★MailData/iniIdPass.ini"
chmod 600 "$demo/root/★MailData/iniIdPass.ini"
printf '[EXEINI]\r\nNUMBER5=1\r\nNUMBER6=1\r\n' > "$demo/root/★MailData/ini.ini"

echo "POP3 $pop3, SMTP $smtp, account $user / $password, address $address"
echo "data root: $demo/root"
echo "Click 受信 to fetch the sample mail, メールを見る to read it."

run=("$build/src/app/hollin" --root "$demo/root" "$@")
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "no display: running under Xvfb (xvfb-run)"
  xvfb-run -a -s "-screen 0 1280x900x24" "${run[@]}"
else
  "${run[@]}"
fi
