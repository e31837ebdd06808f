#!/usr/bin/env bash
# A preset whose products need a library that is missing stops at configure
# with one line naming the Debian package, instead of building less in silence.
# pkg-config is pointed at an empty folder, so libudev is not found.
set -euo pipefail
src=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/pc"
status=0
PKG_CONFIG_LIBDIR="$work/pc" PKG_CONFIG_PATH= cmake -S "$src" -B "$work/build" \
  -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=Release >"$work/out" 2>&1 || status=$?
if [ "$status" -eq 0 ]; then
  cat "$work/out"
  echo "FAIL: configure succeeded without libudev" >&2
  exit 1
fi
grep -q "The Linux hex-upload needs the Debian package libudev-dev: install it" "$work/out" || {
  cat "$work/out"
  echo "FAIL: the configure error does not name libudev-dev" >&2
  exit 1
}
echo "configure without libudev stops and names libudev-dev"
