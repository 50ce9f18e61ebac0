#!/usr/bin/env bash
# Starts the demo mail servers in the background and makes the demo data root.
# Usage: source tools/demo/setup.sh BUILD_DIR DEMO_DIR
# Leaves: $demo_servers (pid of the servers), $demo_root, $demo_pop3, $demo_smtp,
# $demo_user, $demo_password, $demo_address.
demo_build=$1
demo_dir=$2
demo_user=demo
demo_password=demo
demo_address=demo@hollin.example
demo_root=$demo_dir/root

rm -rf "$demo_dir"
mkdir -p "$demo_dir/mail" "$demo_root/★MailData"
/usr/bin/python3 tools/demo/make_samples.py "$demo_dir/mail" "$demo_address"

"$demo_build/tools/hollin-mailservers" --user "$demo_user" --password "$demo_password" \
  --address "$demo_address" --mail "$demo_dir/mail" > "$demo_dir/servers.txt" &
demo_servers=$!
for _ in $(seq 150); do
  grep -q '^SMTP=' "$demo_dir/servers.txt" 2>/dev/null && break
  kill -0 $demo_servers 2>/dev/null || { echo "the demo mail servers did not start" >&2; exit 1; }
  sleep 0.1
done
demo_pop3=$(sed -n 's/^POP3=//p' "$demo_dir/servers.txt")
demo_smtp=$(sed -n 's/^SMTP=//p' "$demo_dir/servers.txt")

# Server settings and account in the files' own format (CP932 text, CR LF).
printf 'SMTP=%s\r\nPOP3=%s\r\nMAIL=%s\r\nAPOP=0\r\n' "$demo_smtp" "$demo_pop3" "$demo_address" > "$demo_root/hlmail.ini"
printf '[EXEINI]\r\nNAME=%s\r\nNAME2=%s\r\nNAME3=1\r\n' "$demo_user" "$demo_password" > "$demo_root/★MailData/iniIdPass.ini"
chmod 600 "$demo_root/★MailData/iniIdPass.ini"
printf '[EXEINI]\r\nNUMBER5=1\r\nNUMBER6=1\r\nNUMBER8=1\r\n' > "$demo_root/★MailData/ini.ini"
# The panel at the top left and the five floating windows in a row below it (twips).
printf '[EXEINI]\r\nNUMBERW=600\r\nNUMBERH=600\r\n' > "$demo_root/★MailData/Form.ini"
left=600
for key in F9 F4 F8 F5 F7; do
  printf 'NUMBER%sL=%s\r\nNUMBER%sT=6300\r\n' "$key" "$left" "$key" >> "$demo_root/★MailData/Form.ini"
  left=$((left + 1800))
done
