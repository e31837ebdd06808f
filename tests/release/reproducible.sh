#!/usr/bin/env bash
# Two clean builds of the same sources, in different folders, must give the
# same bytes as the build under test.
set -euo pipefail
src=$1 work=$2 bin=$3
rm -rf "$work"
for tree in a b; do
  cmake -S "$src" -B "$work/$tree-tree" -G "Unix Makefiles" \
    -DCMAKE_TOOLCHAIN_FILE="$src/cmake/i686-w64-mingw32.cmake" -DCMAKE_BUILD_TYPE=MinSizeRel \
    -DBUILD_X64_TEST_PROGRAMS=OFF >/dev/null
  cmake --build "$work/$tree-tree" -j "$(nproc)" --target hex-upload port-monitor firmware-erase >/dev/null
done
status=0
for p in hex-upload port-monitor firmware-erase; do
  [ -f "$bin/$p.exe" ] || continue
  a=$(sha256sum < "$work/a-tree/bin/$p.exe") b=$(sha256sum < "$work/b-tree/bin/$p.exe")
  if [ "$a" = "$b" ]; then echo "$p.exe: identical (${a%% *})"; else echo "$p.exe: builds differ"; status=1; fi
done
rm -rf "$work"
exit $status
