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

show_console() {
  echo "--- the VM's console ($console):"
  tail -n 60 "$console" 2>/dev/null || echo "(none)"
}

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
  echo "the VM ran $(($(date +%s) - started)) s; $(sed -n 's/^vm-guest: up after \(.*\) s$/booted in \1 s (kernel clock)/p' <(tr -d '\r' < "$console"))"
  # The cases' verdicts are the tests vm_wine.<case>; this test fails only
  # when the VM did not run them all.
  if [ "$status" = 125 ] || [ ! -e "$results/no_rule.result" ]; then
    echo "FAIL: the VM did not run every case (vm-run exit $status)"
    show_console
    exit 1
  fi
  ;;
result)
  name=$3
  file=$results/$name.result
  if [ ! -e "$file" ]; then
    echo "FAIL: no result for $name: vm_wine.boot did not run it"
    show_console
    exit 1
  fi
  cat "$file"
  case $(head -n 1 "$file") in
  PASS) exit 0 ;;
  SKIP) exit 77 ;;
  *) show_console; exit 1 ;;
  esac
  ;;
*)
  echo "usage: run.sh boot|result ..." >&2
  exit 2
  ;;
esac
