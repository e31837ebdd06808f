# shellcheck shell=bash disable=SC2154
# What the ctest sides of the tests in scripts/vm-run's VM share (tests/vm,
# tests/vm_wine, tests/vm_browser): one boot runs every case, each case's
# verdict is a file RESULTS/<case>.result (PASS, FAIL or SKIP on its first
# line, then what it saw). Sourced with `results` and `console` set.

show_console() {
  echo "--- the VM's console ($console):"
  tail -n 60 "$console" 2>/dev/null || echo "(none)"
}

# boot_verdict STATUS STARTED LAST_CASE: the VM's time; fails when vm-run
# could not run the cases or the last one left no verdict (the cases'
# verdicts are the tests <label>.<case>).
boot_verdict() {
  local status=$1 started=$2 last=$3
  echo "the VM ran $(($(date +%s) - started)) s; $(tr -d '\r' < "$console" | sed -n 's/^vm-guest: up after \(.*\) s$/booted in \1 s (kernel clock)/p')"
  if [ "$status" = 125 ] || [ ! -e "$results/$last.result" ]; then
    echo "FAIL: the VM did not run every case (vm-run exit $status)"
    show_console
    exit 1
  fi
}

# case_verdict LABEL CASE: what the boot found for one case; exit 0 for
# PASS, 77 for SKIP, 1 otherwise (with the console).
case_verdict() {
  local file=$results/$2.result
  if [ ! -e "$file" ]; then
    echo "FAIL: no result for $2: $1.boot did not run it"
    show_console
    exit 1
  fi
  cat "$file"
  case $(head -n 1 "$file") in
  PASS) exit 0 ;;
  SKIP) exit 77 ;;
  *) show_console; exit 1 ;;
  esac
}
