#!/usr/bin/env bash
# The Linux hex-upload --watch with simulated bootloaders that are plugged in
# after a delay, leave the bus once written and come back as new boards:
# each board written once, the CSV log, Ctrl+C once and twice, a log that
# cannot be opened.
#   hidraw-watch.sh <hex-upload> <libsorbel-hidraw-sim.so>
set -euo pipefail
program=$(realpath "$1") library=$(realpath "$2")
work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
wait_until() {
  local limit=$1; shift
  local deadline=$(( $(date +%s%N) + limit * 1000000000 ))
  until "$@"; do
    [ "$(date +%s%N)" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

preload=$library
asan=$(ldd "$program" | awk '/libasan\.so/ { print $3 }')
[ -z "$asan" ] || preload="$asan:$library"

head -c 3000 /dev/urandom > "$work/image.bin"
objcopy -I binary -O ihex "$work/image.bin" "$work/image.hex"
digest=$(sha256sum < "$work/image.hex" | cut -d' ' -f1)
# closings <name> <k>: the closing reports board k got (the log of a single board has no number).
closings() {
  local log="$work/$1.log.$2"
  [ -e "$log" ] || log="$work/$1.log"
  grep -c '^set 3 7 ' "$log" 2>/dev/null || true
}

# start <name> <settings...> -- <arguments...>: the program in the background.
start() {
  local name=$1
  shift
  local settings=()
  while [ "$1" != -- ]; do settings+=("$1"); shift; done
  shift
  (
    cd "$work"
    exec env SORBEL_SIM_DEVICES=3 SORBEL_SIM_LEAVE_WRITTEN=1 "${settings[@]}" \
      SORBEL_SIM_LOG="$work/$name.log" LD_PRELOAD="$preload" \
      "$program" "$@" > "$work/$name.out" 2> "$work/$name.err"
  ) &
  pid=$!
  pids+=("$pid")
}
finish() {  # finish <name>: waits for the program (at most 60 s), keeps its exit code
  wait_until 60 eval '! kill -0 "$pid" 2>/dev/null' || { fail "$1: still running"; kill -KILL "$pid"; }
  set +e
  wait "$pid"
  echo $? > "$work/$1.code"
  set -e
  local errors
  errors=$(grep -v "${2:-^$}" "$work/$1.err" || true)
  [ -z "$errors" ] || fail "$1: $errors"
}
expect_code() { [ "$(cat "$work/$1.code")" = "$2" ] || fail "$1: exit code $(cat "$work/$1.code"), not $2"; }
has() { grep -qF -- "$2" "$work/$1.out"; }

# Boards that appear after 3 searches, leave when written, and come back as
# new ones after 4: six boards on three ports, each written once.
start count SORBEL_SIM_APPEAR_AFTER=3 SORBEL_SIM_REPLUG_AFTER=4 -- \
  --watch --count 6 --log log.csv image.hex
finish count
expect_code count 0
for k in 1 2 3; do
  [ "$(closings count $k)" = 2 ] || fail "count: 9-1.$k written $(closings count $k) times"
  has count "9-1.$k: 2 written, 0 failed" || fail "count: no summary line for 9-1.$k"
done
has count "6 written, 0 failed" || fail "count: no totals line"
grep -qE '^[0-9]{2}:[0-9]{2}:[0-9]{2} 9-1\.1: written, 1 attempt, [0-9]+\.[0-9] s$' "$work/count.out" ||
  fail "count: no end line: $(head -5 "$work/count.out")"
[ "$(head -1 "$work/log.csv")" = "time,place,file,sha256,result,attempts,seconds" ] || fail "log: header"
[ "$(grep -cE "^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}[+-][0-9]{2}:[0-9]{2},9-1\.[123],image\.hex,$digest,written,1,[0-9]+\.[0-9]\$" "$work/log.csv")" = 6 ] ||
  fail "log: $(cat "$work/log.csv")"

# A second run appends to the log, without a second header; its times are
# local to a zone half an hour off the hour, behind UTC.
zone=Pacific/Marquesas
start again TZ=$zone -- --watch --count 3 --log log.csv image.hex
finish again
expect_code again 0
[ "$(wc -l < "$work/log.csv")" = 10 ] || fail "again: the log has $(wc -l < "$work/log.csv") lines, not 10"
[ "$(tail -n 3 "$work/log.csv" | cut -c 20-25 | sort -u)" = "$(TZ=$zone date +%:z)" ] ||
  fail "again: the offsets are not those of $zone: $(tail -n 3 "$work/log.csv")"
[ "$(grep -c '^time,' "$work/log.csv")" = 1 ] || fail "again: a second header"

# A board that stays on the bus after its write is not written again.
start stays SORBEL_SIM_LEAVE_WRITTEN=0 SORBEL_SIM_DEVICES=1 -- --watch image.hex
wait_until 30 has stays "1 written, 0 failed" || fail "stays: not written"
sleep 1  # four more searches
kill -INT "$pid" || true
finish stays
expect_code stays 0
[ "$(closings stays 1)" = 1 ] || fail "stays: written $(closings stays 1) times"

# Ctrl+C while a board is being written: no new board, the write finishes.
start once SORBEL_SIM_DEVICES=1 SORBEL_SIM_REPORT_DELAY=100 SORBEL_SIM_REPLUG_AFTER=1 -- --watch image.hex
wait_until 30 has once "9-1.1:  10% written" || fail "once: no write began"
kill -INT "$pid" || true
finish once
expect_code once 0
has once "Taking no new board; waiting for 1 write to finish (Ctrl+C again stops at once)" ||
  fail "once: $(cat "$work/once.out")"
has once "Summary: 1 written, 0 failed" || fail "once: no summary"
[ "$(closings once 1)" = 1 ] || fail "once: written $(closings once 1) times"

# Twice: ends at once, the write cut off.
start twice SORBEL_SIM_DEVICES=1 SORBEL_SIM_REPORT_DELAY=200 -- --watch --log twice.csv image.hex
wait_until 30 has twice "9-1.1:  10% written" || fail "twice: no write began"
kill -INT "$pid" || true
wait_until 30 has twice "Taking no new board" || fail "twice: first Ctrl+C not taken"
kill -INT "$pid" || true
finish twice
expect_code twice 1
has twice "Stopped at once; 1 write cut off" || fail "twice: $(cat "$work/twice.out")"
[ "$(closings twice 1)" = 0 ] || fail "twice: the write finished"
grep -q '^set 3 132 ' "$work/twice.log" || fail "twice: no block in the simulator's log"
[ "$(cat "$work/twice.csv")" = "time,place,file,sha256,result,attempts,seconds" ] ||
  fail "twice: log $(cat "$work/twice.csv")"

# A log that cannot be opened: an error before any board is touched.
start nolog -- --watch --log "$work/missing/log.csv" image.hex
finish nolog
expect_code nolog 1
[ "$(cat "$work/nolog.out")" = "Cannot open the log file $work/missing/log.csv" ] || fail "nolog: $(cat "$work/nolog.out")"
for k in 1 2 3; do [ ! -s "$work/nolog.log.$k" ] || fail "nolog: reports sent to 9-1.$k"; done

[ "$failures" = 0 ] && echo "hidraw watch: all passed"
exit $((failures > 0))
