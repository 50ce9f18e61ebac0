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
source tools/demo/setup.sh "$build" "${HOLLIN_DEMO_DIR:-/tmp/hollin-demo}"
trap 'kill $demo_servers 2>/dev/null; wait $demo_servers 2>/dev/null || true' EXIT

echo "POP3 $demo_pop3, SMTP $demo_smtp, account $demo_user / $demo_password, address $demo_address"
echo "data root: $demo_root"
echo "Click 受信 to fetch the sample mail, メールを見る to read it."

run=("$build/src/app/hollin" --root "$demo_root" "$@")
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "no display: running under Xvfb (xvfb-run)"
  xvfb-run -a -s "-screen 0 1280x900x24" "${run[@]}"
else
  "${run[@]}"
fi
