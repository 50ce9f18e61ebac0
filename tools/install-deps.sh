#!/usr/bin/env bash
# Installs every Debian 12 package that building, testing and the demo need.
# Runs apt-get only when something is missing, so a prepared machine is left alone.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config ccache git
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl1-mesa-dev libxcb1-dev
  libgmime-3.0-dev libcurl4-openssl-dev libxml2-dev libssl-dev qtkeychain-qt6-dev
  # fuzzing
  clang libclang-rt-14-dev
  # real mail servers for the tests and the demo
  dovecot-core dovecot-pop3d python3 python3-aiosmtpd openssl postfix
  # tests and tools: PDF text, screenshots, the peers of the benchmarks
  poppler-utils xvfb xauth x11-apps imagemagick fetchmail mpop
  # a private session bus for the desktop notification test, and a keyring
  # daemon of its own on it for the password store test
  dbus-daemon gnome-keyring
  # Japanese text on screen, Qt's own Japanese texts
  fonts-noto-cjk qt6-translations-l10n
  # the package and its checks (tools/package.sh)
  lintian appstream desktop-file-utils dpkg-dev file
  # the window-manager tests: a real window manager, xprop, and real pointer
  # clicks as a touchpad makes them (xdotool)
  openbox x11-utils xdotool
  # the accessibility test: the AT-SPI bus and its Python client
  at-spi2-core python3-pyatspi
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${missing[*]}" >&2
    echo "run as root, or install them with: sudo apt-get install ${missing[*]}" >&2
    exit 1
  fi
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
