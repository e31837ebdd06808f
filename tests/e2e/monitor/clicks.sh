# Clicks on the diagram write the register with one bit flipped. A data bit
# box (and a pin) change the port, and the box follows the read-back; a
# status bit is written but the port's status lines stay, so its box shows
# only the written half. A read-back the program did not write shows only
# the read-back half.
. "$(dirname "${BASH_SOURCE[0]}")/monitor-lib.sh"

sim_start "00 88 05 00 00 00 00 00 00 00 01 00 00 00 00 00"
start_monitor
wait_until 10 field_text_is 176 8F || fail "data read-back after start-up"

note "a click on the D4 box sets data bit 4"
read -r x y < <(box_centre 0 4)
click_client "$x" "$y"
wait_until 10 sim_register_is 0 9F || expect_equal "data register after the click" 9F "$(sim_register 0)"
expect_equal "field 160 shows the written value" 9F "$(field_text 160)"
wait_until 10 field_text_is 176 9F || expect_equal "read-back field 176" 9F "$(field_text 176)"

note "a click on the S6 box writes the status register; the port keeps its input lines"
read -r x y < <(box_centre 1 6)
click_client "$x" "$y"
wait_until 10 field_text_is 161 C8 || expect_equal "field 161 shows the written value" C8 "$(field_text 161)"
expect_equal "status lines of the port" 88 "$(sim_register 1)"
expect_equal "read-back field 177" 88 "$(field_text 177)"

note "a click on pin 1 flips control bit 0"
read -r x y < <(pin_centre 1)
click_client "$x" "$y"
wait_until 10 sim_register_is 2 04 || expect_equal "control register after the click on pin 1" 04 "$(sim_register 2)"
wait_until 10 field_text_is 178 04 || expect_equal "read-back field 178" 04 "$(field_text 178)"

note "clicks on a ground pin and on empty space change nothing"
read -r x y < <(pin_centre 20)
click_client "$x" "$y"
click_client 30 250
expect_equal "registers after clicks outside the bits" "9F 88 04" "$(sim get | head -n 1 | cut -d ' ' -f 1-3)"

note "the port's status lines change by themselves: S4 read back but not written"
sim set "9F 98 04 00 00 00 00 00 00 00 01 00 00 00 00 00" C2 >/dev/null
wait_until 10 field_text_is 177 98 || expect_equal "read-back field 177" 98 "$(field_text 177)"

png=$(screenshot clicks)
specs=$(
  row_specs 0 "$GREEN" 9F 9F
  row_specs 1 "$RED" C8 98   # S6 written only, S4 read back only
  row_specs 2 "$YELLOW" 04 04
  pin_spec 6 "$GREEN"        # D4
  pin_spec 10 "$WHITE"       # S6: the level read back
  pin_spec 13 "$RED"         # S4
  pin_spec 1 "$YELLOW"       # C0 = 0, inverted: high
)
expect_picture "$png" "$specs"

press_escape
wait_until 15 monitor_ended || fail "Escape did not end port-monitor"
expect_equal "exit code" 0 "$(cat "$MONITOR_DIR/rc")"
