# shellcheck shell=bash disable=SC2154
# What the cases of the tests in scripts/vm-run's VM share (tests/vm/cases.sh,
# tests/vm_wine/cases.sh), sourced with `work` (a scratch folder) and
# `results` set: each case writes RESULTS/<case>.result, PASS, FAIL or SKIP on
# its first line, then what it saw.

wait_until() {
  local seconds=$1
  shift
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

# A case: `begin NAME`, checks that call `fail`, then `end`.
case_name="" case_failed=0 case_started=0
begin() {
  case_name=$1 case_failed=0 case_started=$SECONDS
  : > "$work/$case_name.notes"
  echo "=== $case_name (at $SECONDS s)"
}
note() { echo "$*" >> "$work/$case_name.notes"; }
fail() {
  case_failed=1
  note "FAIL: $*"
  echo "FAIL: $case_name: $*"
}
end() {
  note "(took $((SECONDS - case_started)) s)"
  { if [ "$case_failed" = 0 ]; then echo PASS; else echo FAIL; fi; cat "$work/$case_name.notes"; } \
    > "$results/$case_name.result"
}
skip() {
  { echo SKIP; echo "$*"; } > "$results/$case_name.result"
  echo "SKIP: $case_name: $*"
}
