#!/usr/bin/env bash
# Runs one test program on an X server of its own (Xvfb, on a free display
# number) under the openbox window manager. Both are stopped when the test
# ends or fails, and by a watchdog when this script itself is killed.
# Usage: run-with-wm.sh TEST_PROGRAM [ARGS...]
set -u
program=$1
shift
work=$(mktemp -d)
xvfb_pid=
wm_pid=
watch_pid=

stop() {
  [ -n "$watch_pid" ] && kill "$watch_pid" 2>/dev/null
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap stop EXIT
trap 'exit 130' INT TERM HUP

# Starts Xvfb on a free display number (-displayfd: Xvfb picks it and writes it
# once it accepts clients), then openbox; false when either does not come up.
start_servers() {
  : >"$work/display"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 </dev/null &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || return 1
    sleep 0.1
  done
  [ -s "$work/display" ] || return 1
  export DISPLAY=":$(head -n1 "$work/display")"

  openbox --sm-disable >"$work/openbox.log" 2>&1 </dev/null &
  wm_pid=$!
  # The window manager is ready once it names itself on the root window.
  for _ in $(seq 200); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
    kill -0 "$wm_pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# A busy machine can lose a start (a display number taken at the same moment):
# try again on a fresh server.
started=
for attempt in 1 2 3; do
  if start_servers; then
    started=1
    break
  fi
  echo "window manager start $attempt failed:" >&2
  cat "$work/xvfb.log" "$work/openbox.log" >&2 2>/dev/null
  kill "$wm_pid" "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
  wm_pid=
  xvfb_pid=
done
[ -n "$started" ] || exit 1

# Killed without a chance to run the trap (SIGKILL): the servers go anyway.
(
  while kill -0 $$ 2>/dev/null; do sleep 1; done
  kill "$wm_pid" "$xvfb_pid" 2>/dev/null
) >/dev/null 2>&1 </dev/null &
watch_pid=$!

QT_QPA_PLATFORM=xcb "$program" "$@"
