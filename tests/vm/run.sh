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

# shellcheck source=tests/vm/run-lib.sh
source "$source_dir/tests/vm/run-lib.sh"

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
  boot_verdict "$status" "$started" watch
  ;;
result)
  case_verdict vm "$3"
  ;;
*)
  echo "usage: run.sh release|boot|result ..." >&2
  exit 2
  ;;
esac
