#!/bin/sh
# with-keyring.sh COMMAND...: runs COMMAND on a private session bus (start it
# under dbus-run-session) with a GNOME Keyring of its own, unlocked with a test
# password, in a temporary home. The user's own keyring is never reached; the
# keyring daemon ends with the bus.
set -eu
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" XDG_RUNTIME_DIR="$home/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
printf '%s' test-password | gnome-keyring-daemon --unlock --components=secrets --daemonize >/dev/null
"$@"
