#!/usr/bin/env bash
# The ctest side of hex-upload.exe under Wine's own HID stack on the real
# kernel.
#   run.sh boot <source dir> <build dir>      one VM boot running tests/vm_wine/cases.sh
#   run.sh result <source dir> <case>         what the boot found for one case
# The x86_64 build of the same sources runs under the 64-bit Wine (the VM's
# kernel runs the host's programs, and 32-bit Wine is not there); the i686
# build only where no x86_64 one was made. A case that failed, or a boot that
# did not finish, prints the VM's console.
set -uo pipefail
what=$1 source_dir=$2
results=$source_dir/build/vm/wine-results
console=$source_dir/build/vm/console.log

# shellcheck source=tests/vm/run-lib.sh
source "$source_dir/tests/vm/run-lib.sh"

case $what in
boot)
  build_dir=$3
  program=$build_dir/x64/bin/hex-upload.exe loader=/usr/lib/wine/wine64
  if [ ! -e "$program" ]; then
    program=$build_dir/bin/hex-upload.exe loader=/usr/lib/wine/wine
  fi
  [ -e "$program" ] || { echo "FAIL: no hex-upload.exe in $build_dir"; exit 1; }
  [ -x "$loader" ] || { echo "FAIL: $loader is missing (scripts/install-deps installs Wine)"; exit 1; }
  server=$source_dir/build/linux/bin/sorbel-usbip
  [ -x "$server" ] || { echo "FAIL: $server is missing: build the linux preset first"; exit 1; }
  rm -rf "$results"
  echo "hex-upload.exe: $program under $loader"
  # A fresh prefix, made here: under the VM's TCG wineboot -i takes minutes.
  prefix=$source_dir/build/vm/wine-prefix
  rm -rf "$prefix"
  started=$(date +%s)
  WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=d;mshtml=d;winemenubuilder.exe=d" \
    timeout 600 "$loader" wineboot -i > "$source_dir/build/vm/wineboot.log" 2>&1 &&
    WINEPREFIX=$prefix timeout 60 wineserver -w ||
    { echo "FAIL: wineboot -i failed:"; tail -n 20 "$source_dir/build/vm/wineboot.log"; exit 1; }
  echo "the prefix took $(($(date +%s) - started)) s"
  started=$(date +%s)
  VM_USBIP_SERVER=$server "$source_dir/scripts/vm-run" --boards 1 --timeout 1400 -- \
    tests/vm_wine/cases.sh "$program" "$loader" "$prefix" "$results"
  status=$?
  boot_verdict "$status" "$started" no_rule
  ;;
result)
  case_verdict vm_wine "$3"
  ;;
*)
  echo "usage: run.sh boot|result ..." >&2
  exit 2
  ;;
esac
