#!/usr/bin/env bash
# The ctest side of the tests on the real kernel.
#   run.sh release <source dir>                  the shipped build (release preset)
#   run.sh boot <source dir> <hex-upload-sim> <sorbel-usbip>
#                                                one VM boot running tests/vm/cases.sh
#   run.sh result <source dir> <case>            what the boot found for one case
# A case that failed, or a boot that did not finish, prints the VM's console.
set -uo pipefail
what=$1 source_dir=$2
results=$source_dir/build/vm/results
console=$source_dir/build/vm/console.log

show_console() {
  echo "--- the VM's console ($console):"
  tail -n 60 "$console" 2>/dev/null || echo "(none)"
}

case $what in
release)
  cd "$source_dir" && cmake --preset release > /dev/null && cmake --build --preset release -j 2
  ;;
boot)
  sim=$3 server=$4
  program=$source_dir/build/release/bin/hex-upload
  [ -x "$program" ] || { echo "FAIL: $program is missing"; exit 1; }
  rm -rf "$results"
  started=$(date +%s)
  VM_USBIP_SERVER=$server "$source_dir/scripts/vm-run" --boards 0 --timeout 1100 -- \
    tests/vm/cases.sh "$program" "$sim" "$results"
  status=$?
  echo "the VM ran $(($(date +%s) - started)) s; $(sed -n 's/^vm-guest: up after \(.*\) s$/booted in \1 s (kernel clock)/p' <(tr -d '\r' < "$console"))"
  # The cases' verdicts are the tests vm.<case>; this test fails only when
  # the VM did not run them all.
  if [ "$status" = 125 ] || [ ! -e "$results/watch.result" ]; then
    echo "FAIL: the VM did not run every case (vm-run exit $status)"
    show_console
    exit 1
  fi
  ;;
result)
  name=$3
  file=$results/$name.result
  if [ ! -e "$file" ]; then
    echo "FAIL: no result for $name: vm.boot did not run it"
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
  echo "usage: run.sh release|boot|result ..." >&2
  exit 2
  ;;
esac
