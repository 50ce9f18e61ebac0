#!/usr/bin/env bash
# Builds the Debian package in a build folder of its own, without tests and with
# Debian's hardening flags, then checks it: lintian (no errors, no warnings), the
# desktop entry, the AppStream file, and no build path inside the programs.
#   tools/package.sh            → build-package/hollin_<version>_<arch>.deb
# The maintainer field is "$DEBFULLNAME <$DEBEMAIL>", else the last commit's author.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
build=${HOLLIN_PACKAGE_BUILD_DIR:-build-package}

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cppflags=$(dpkg-buildflags --get CPPFLAGS)
export CFLAGS="$(dpkg-buildflags --get CFLAGS) $cppflags"
export CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $cppflags"
export LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"

name=${DEBFULLNAME:-$(git log -1 --format=%an 2>/dev/null || echo "Hollin developers")}
email=${DEBEMAIL:-$(git log -1 --format=%ae 2>/dev/null || echo "hollin@example.org")}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
  -DHOLLIN_MAINTAINER="$name <$email>" >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -f "$build"/hollin_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/hollin_*.deb)
echo "package: $deb"

# Installed programs must not know where they were built.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
dpkg-deb -x "$deb" "$stage"
for program in "$stage"/usr/bin/*; do
  if grep -aq -- "$source_dir" "$program"; then
    echo "$program holds the build path $source_dir" >&2
    exit 1
  fi
done

desktop-file-validate "$stage"/usr/share/applications/hollin.desktop
appstreamcli validate --no-net --explain "$stage"/usr/share/metainfo/*.metainfo.xml
lintian --fail-on error,warning --display-level '>=warning' "$deb"
echo "lintian: no errors or warnings"
