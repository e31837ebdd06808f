# The picture of known port states: pins show the levels at the connector
# (inverted signals complemented), bit boxes the written and the read-back
# bits, in the row colours at their pixels. The states and the expected
# colours come from tests/shared/monitor_picture.py, which the browser test
# samples as well: first the start-up picture, then one where someone else
# changed the port and the user typed a value the status register ignores.
# Argument: the program (port-monitor.exe, or the test builds for access
# methods 1 and 2).
. "$(dirname "${BASH_SOURCE[0]}")/monitor-lib.sh"
program=${1:-port-monitor.exe}
picture() { python3 "$E2E_SRC/tests/shared/monitor_picture.py" "$@"; }

# Mode 0; the monitor writes 8F to the data register at start-up.
sim_start "$(picture registers start)"
start_monitor "$program"
expect_equal "register 0 after start-up" 8F "$(sim_register 0)"
expect_equal "ECR read-back" 01 "$(field_text 186)"
expect_equal "FIFO leer" 1 "$(control_flag 121 checked)"
expect_equal "FIFO voll" 0 "$(control_flag 120 checked)"

# write_seen "INDEX VALUE": the port got that write (the log empties each look).
write_seen() { sim writes | grep -qx "$1"; }
for state in $(picture states); do
  registers=$(picture registers "$state")
  if [ "$state" != start ]; then
    note "state $state: the port set to $registers"
    sim set "$registers" C2 >/dev/null || fail "tarnel-sim-ctl set"
  fi
  while read -r field value; do
    wait_until 10 field_text_is "$field" "$value" ||
      expect_equal "read-back field $field in state $state" "$value" "$(field_text "$field")"
  done < <(picture shown "$state")
  typed=$(picture typed "$state")
  if [ -n "$typed" ]; then
    set -- $typed
    sim writes >/dev/null
    inspect settext "$1" "$2"
    wait_until 10 write_seen "$(printf '%02X %s' $(( $1 - 160 )) "$2")" ||
      fail "$2 put into field $1 was not written"
  fi
  png=$(screenshot "picture-${program%.exe}-$state")
  expect_picture "$png" "$(picture samples "$state")"
done

press_escape
wait_until 15 monitor_ended || fail "Escape did not end $program"
expect_equal "exit code" 0 "$(cat "$MONITOR_DIR/rc")"
