#!/usr/bin/env bash
# The ctest side of the pages in the real Chromium, inside scripts/vm-run's VM.
#   run.sh boot <source dir> <site> <package> <sorbel-usbip> <hex-upload-sim>
#                                       one VM boot running tests/vm_browser/cases.py
#   run.sh result <source dir> <case>   what the boot found for one case
# A case that failed, or a boot that did not finish, prints the VM's console.
set -uo pipefail
what=$1 source_dir=$2
results=$source_dir/build/vm/browser-results
console=$source_dir/build/vm/console.log

# shellcheck source=tests/vm/run-lib.sh
source "$source_dir/tests/vm/run-lib.sh"

case $what in
boot)
  site=$3 package=$4 server=$5 sim=$6
  for file in "$site/index.html" "$package" "$server" "$sim"; do
    [ -e "$file" ] || { echo "FAIL: $file is missing (the linux and web presets build it)"; exit 1; }
  done
  rm -rf "$results"
  started=$(date +%s)
  VM_USBIP_SERVER=$server "$source_dir/scripts/vm-run" --boards 0 --timeout 1700 -- \
    /usr/bin/python3 -B tests/vm_browser/cases.py --site "$site" --package "$package" \
    --native-sim "$sim" --results "$results"
  status=$?
  boot_verdict "$status" "$started" adapter_replug
  ;;
result)
  case_verdict vm_browser "$3"
  ;;
*)
  echo "usage: run.sh boot|result ..." >&2
  exit 2
  ;;
esac
