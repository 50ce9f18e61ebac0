#!/usr/bin/env bash
# Where the panel and the five floating windows land under each XWayland
# compositor that is installed (mutter, kwin_wayland, weston), next to where
# they land under openbox on Xvfb, which honours the places Hollin asks for.
# Every compositor runs headless on a display of its own; nothing is installed.
# Usage: tools/xwayland-places.sh [BUILD_DIR]
set -u
cd "$(dirname "$0")/.."
hollin=$PWD/${1:-build}/src/app/hollin
work=$(mktemp -d)
chmod 700 "$work"
trap 'rm -rf "$work"' EXIT

# The program's top-level windows as "title x,y", sorted.
places() {
  local root
  root=$(mktemp -d -p "$work")
  QT_QPA_PLATFORM=xcb "$hollin" --root "$root" >"$work/hollin.log" 2>&1 &
  local pid=$!
  sleep 6
  for id in $(xdotool search --onlyvisible --class hollin 2>/dev/null); do
    xwininfo -id "$id" | awk -F': *' '/^xwininfo/ { sub(/.*id: 0x[0-9a-f]+ /, ""); name = $0 }
      /Absolute upper-left X/ { x = $2 } /Absolute upper-left Y/ { print name, x "," $2 }'
  done | sort
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
}

# Runs places under the compositor started by the given command, on the X
# display its Xwayland opens (the X socket that was not there before).
under() {
  local name=$1
  shift
  XDG_RUNTIME_DIR=$work dbus-run-session -- bash -c '
    before=$(ls /tmp/.X11-unix 2>/dev/null)
    "$@" >"'"$work/$name"'.log" 2>&1 &
    wm=$!
    sleep 6
    socket=$(ls /tmp/.X11-unix | grep -vxF -e "$before" | head -1)
    export DISPLAY=:${socket#X}
    export XAUTHORITY=$(ls -t "'"$work"'"/.mutter-Xwaylandauth.* "'"$work"'"/xauth_* 2>/dev/null | head -1)
    '"$(declare -f places)"'
    work='"$work"' hollin='"$hollin"' places
    kill $wm; wait $wm 2>/dev/null' _ "$@" 2>/dev/null
}

Xvfb :95 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
sleep 1
DISPLAY=:95 openbox --sm-disable >/dev/null 2>&1 &
openbox=$!
sleep 1
DISPLAY=:95 places >"$work/expected"
kill $openbox $xvfb
wait 2>/dev/null
echo "openbox (asked for):"
sed 's/^/  /' "$work/expected"

# kwin_wayland carries file capabilities that a container refuses: a copy has none.
cp /usr/bin/kwin_wayland "$work/kwin_wayland" 2>/dev/null
declare -A start=(
  [mutter]="mutter --wayland --headless --virtual-monitor 1280x1024 --wayland-display=hollin-wl"
  [kwin]="$work/kwin_wayland --virtual --width 1280 --height 1024 --xwayland --socket hollin-wl"
  [weston]="weston --backend=headless-backend.so --xwayland --width=1280 --height=1024 --socket=hollin-wl"
)
for name in mutter kwin weston; do
  command=(${start[$name]})
  [ -x "$(command -v "${command[0]}")" ] || { echo "$name: not installed"; continue; }
  under "$name" "${command[@]}" >"$work/$name.places"
  if cmp -s "$work/expected" "$work/$name.places"; then
    echo "$name: every window where it was asked"
  else
    echo "$name: placed elsewhere:"
    diff "$work/expected" "$work/$name.places" | sed -n 's/^> /  /p'
  fi
done
