# Input paths that reach the port although nothing shows them: a double click
# on a bit toggles it twice (two writes, the register ends where it began),
# and in configuration mode a value typed into field 168 is written to
# register 8 after the delay, although the port's cfgA ignores it.
. "$(dirname "${BASH_SOURCE[0]}")/monitor-lib.sh"

# writes_are LINES: the register writes that reached the port since the last
# look (tarnel-sim-ctl writes empties its log), collected in a file.
writes_file="$MONITOR_DIR/writes.log"
writes_are() {
  sim writes >> "$writes_file"
  [ "$(cat "$writes_file")" = "$1" ]
}
forget_writes() { sim writes >/dev/null; : > "$writes_file"; }

sim_start "00 00 00 00 00 00 00 00 00 00 01 00 00 00 00 00"
start_monitor
wait_until 10 field_text_is 176 8F || fail "data read-back after start-up"

note "a double click on D4: two writes, the register ends as it began"
forget_writes
read -r x y < <(box_centre 0 4)
click_client_times 2 "$x" "$y"
wait_until 10 writes_are $'00 9F\n00 8F' || expect_equal "writes of the double click" $'00 9F\n00 8F' "$(cat "$writes_file")"
expect_equal "data register" 8F "$(sim_register 0)"
expect_equal "field 160" 8F "$(field_text 160)"

note "configuration mode: 5A typed into field 168 is written to register 8"
choose_mode 7
field_168_writable() { [ "$(control_flag 168 readonly)" = 0 ]; }
wait_until 5 field_168_writable || fail "field 168 stays read-only in configuration mode"
forget_writes
focus_dialog
click_field 168
xdotool key Home shift+End  # select the shown value, as a user replaces it
xdotool type 5A
wait_until 10 writes_are "08 5A" || expect_equal "writes after typing into field 168" "08 5A" "$(cat "$writes_file")"
expect_equal "cfgA keeps its value" 10 "$(sim_register 8)"

press_escape
wait_until 15 monitor_ended || fail "Escape did not end port-monitor"
expect_equal "exit code" 0 "$(cat "$MONITOR_DIR/rc")"
