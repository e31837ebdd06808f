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

show_console() {
  echo "--- the VM's console ($console):"
  tail -n 60 "$console" 2>/dev/null || echo "(none)"
}

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
  echo "the VM ran $(($(date +%s) - started)) s; $(sed -n 's/^vm-guest: up after \(.*\) s$/booted in \1 s (kernel clock)/p' <(tr -d '\r' < "$console"))"
  # The cases' verdicts are the tests vm_browser.<case>; this test fails
  # only when the VM did not run them all.
  if [ "$status" = 125 ] || [ ! -e "$results/adapter_replug.result" ]; then
    echo "FAIL: the VM did not run every case (vm-run exit $status)"
    show_console
    exit 1
  fi
  ;;
result)
  name=$3
  file=$results/$name.result
  if [ ! -e "$file" ]; then
    echo "FAIL: no result for $name: vm_browser.boot did not run it"
    show_console
    exit 1
  fi
  cat "$file"
  [ "$(head -n 1 "$file")" = PASS ] || { show_console; exit 1; }
  ;;
*)
  echo "usage: run.sh boot|result ..." >&2
  exit 2
  ;;
esac
