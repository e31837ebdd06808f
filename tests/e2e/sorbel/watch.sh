# hex-upload.exe --watch under Wine: boards that the driver plugs in after a
# number of the program's searches and that leave the bus once written, each
# written once, the operator's lines and the CSV log; Ctrl+C (SIGINT, which
# Wine hands to the console control handler) once and twice.
. "$E2E_SRC/tests/e2e/sorbel/common.sh"
start_session
wait_for_four_boards

name="$SORBEL_DIR/watch"
make_hex "$name.hex" "$name.image" 32768 0 0x900
hex=$(win_path "$name.hex")
digest=$(sha256sum < "$name.hex" | cut -d' ' -f1)
flash_is() {  # flash_is BOARD: the board holds the image
  ctl --board "$1" flash "$(win_path "$name.flash$1")"
  cmp -s "$name.image" "$name.flash$1" || fail "board $1 does not hold the image"
}
closings() {  # closings BOARD: closing reports the board received
  ctl --board "$1" log "$(win_path "$name.log$1")"
  grep -c '^set 3 7 ' "$name.log$1" || true
}

# Board 1 appears at the 4th search, board 2 at the 24th (each search opens
# every board once), long after board 1 was written and left.
ctl reset
for board in 1 2; do ctl --board "$board" leave-written on; done
ctl --board 1 appear-after 4
ctl --board 2 appear-after 24
rm -f "$name.csv"
rc=0
# In a zone of three quarter hours that is a day ahead of UTC in the evening:
# the log's offset comes from the local and the UTC clock.
zone=Asia/Kathmandu
out=$(cd "$E2E_BIN" &&
  TZ=$zone run_wine 180 hex-upload.exe --watch --count 2 --log "$(win_path "$name.csv")" "$hex" |
  tr -d '\r') || rc=$?
expect_equal "exit code of --count 2" 0 "$rc"
flash_is 1
flash_is 2
expect_equal "first line" "Watching for Sorbel devices (press Ctrl+C to stop) ..." "${out%%$'\n'*}"
for place in 0000 0001; do
  grep -qE "^[0-9]{2}:[0-9]{2}:[0-9]{2} $place: writing$" <<<"$out" || fail "no start line for $place: $out"
  grep -qE "^[0-9]{2}:[0-9]{2}:[0-9]{2} $place: written, 1 attempt, [0-9]+\.[0-9] s$" <<<"$out" ||
    fail "no end line for $place: $out"
done
# Over time: the second board starts only after the first one's totals.
expect_equal "order of the lines" "0000: writing
0000: written
1 written, 0 failed
0001: writing
0001: written
2 written, 0 failed" \
  "$(grep -E '(: writing|: written,|^[0-9]+ written, )' <<<"$out" | sed -E 's/^[0-9:]{8} //; s/^([0-9]{4}: written),.*/\1/')"
expect_equal "summary" "Summary: 2 written, 0 failed
0000: 1 written, 0 failed
0001: 1 written, 0 failed" "$(tail -n 3 <<<"$out")"
expect_equal "log header" "time,place,file,sha256,result,attempts,seconds" "$(head -n 1 "$name.csv")"
expect_equal "log lines" 3 "$(wc -l < "$name.csv")"
for place in 0000 0001; do
  grep -qxE "[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}[+-][0-9]{2}:[0-9]{2},$place,$(sed 's/[\\.]/\\&/g' <<<"$hex"),$digest,written,1,[0-9]+\.[0-9]" \
    "$name.csv" || fail "no log line for $place: $(cat "$name.csv")"
done
expect_equal "offsets in the log ($zone)" "$(TZ=$zone date +%:z)
$(TZ=$zone date +%:z)" "$(tail -n 2 "$name.csv" | cut -c 20-25)"

# start_watch NAME ARGS...: hex-upload.exe --watch in the background, its
# output in $name.NAME; PID is Wine's process of it, which takes SIGINT.
start_watch() {
  local out="$name.$1"
  shift
  : > "$out"
  (cd "$E2E_BIN" && exec wine hex-upload.exe --watch "$@" > "$out" 2>&1) &
  PID=$!
}
has() { tr -d '\r' < "$name.$1" | grep -qF -- "$2"; }
# finish NAME: waits (at most 60 s) for the program, sets RC.
finish() {
  wait_until 60 eval '! kill -0 "$PID" 2>/dev/null' || { kill -KILL "$PID"; fail "$1: still running"; }
  RC=0
  wait "$PID" || RC=$?
}

# Ctrl+C while a board is being written: no new board, the write finishes
# and is logged (here with a negative offset of half an hour).
ctl reset
ctl --board 1 leave-written on
ctl --board 1 delay 100
rm -f "$name.csv"
zone=Pacific/Marquesas
TZ=$zone start_watch once --log "$(win_path "$name.csv")" "$hex"
wait_until 60 has once "0000: writing" || fail "once: no write began: $(cat "$name.once")"
kill -INT "$PID"
wait_until 30 has once "Taking no new board" || fail "once: Ctrl+C not taken: $(cat "$name.once")"
ctl --board 2 plug  # too late: no search takes it after the Ctrl+C
finish once
expect_equal "exit code after one Ctrl+C" 0 "$RC"
has once "Taking no new board; waiting for 1 write to finish (Ctrl+C again stops at once)" ||
  fail "once: $(cat "$name.once")"
has once "Summary: 1 written, 0 failed" || fail "once: no summary: $(cat "$name.once")"
flash_is 1
expect_equal "log after one Ctrl+C ($zone)" "0000,written,$(TZ=$zone date +%:z)" \
  "$(tail -n 1 "$name.csv" | awk -F, '{ print $2 "," $5 "," substr($1, 20) }')"
expect_equal "reports to board 2 after one Ctrl+C" "" "$(ctl --board 2 log "$(win_path "$name.log2")" && cat "$name.log2")"

# Twice: ends at once, the write cut off; the log keeps what it had.
ctl reset
ctl --board 1 delay 300
rm -f "$name.csv"
start_watch twice --log "$(win_path "$name.csv")" "$hex"
wait_until 60 has twice "0000: writing" || fail "twice: no write began: $(cat "$name.twice")"
kill -INT "$PID"
wait_until 30 has twice "Taking no new board" || fail "twice: first Ctrl+C not taken: $(cat "$name.twice")"
kill -INT "$PID"
finish twice
expect_equal "exit code after two Ctrl+C" 1 "$RC"
has twice "Stopped at once; 1 write cut off" || fail "twice: $(cat "$name.twice")"
expect_equal "closing reports after two Ctrl+C" 0 "$(closings 1)"
expect_equal "log after two Ctrl+C" "time,place,file,sha256,result,attempts,seconds" "$(cat "$name.csv")"
