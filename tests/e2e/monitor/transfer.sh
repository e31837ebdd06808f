# Single-byte transfers: in mode 0 an output puts the byte on the data
# register with a strobe pulse and offers the next byte; in mode 6 the byte
# goes into the test FIFO and "Byte einlesen" fetches it back; in mode 7 field
# 169 is cfgB and a value typed into it is written there.
. "$(dirname "${BASH_SOURCE[0]}")/monitor-lib.sh"

# Control register 05: STB already set, so the pulse's release shows (04).
sim_start "00 00 05 00 00 00 00 00 00 3C 01 00 00 00 00 00"
start_monitor
wait_until 10 field_text_is 178 05 || fail "control read-back after start-up"

note "mode 0: 41 put into field 169 is output after the delay"
inspect settext 169 41
wait_until 10 sim_register_is 0 41 || expect_equal "data register after the output" 41 "$(sim_register 0)"
expect_equal "control register after the strobe pulse" 04 "$(sim_register 2)"
wait_until 10 field_text_is 169 42 || expect_equal "field 169 offers the next byte" 42 "$(field_text 169)"
expect_equal "field 160 shows the byte" 41 "$(field_text 160)"
wait_until 10 field_text_is 176 41 || expect_equal "data read-back" 41 "$(field_text 176)"

note "mode 0: the button outputs the next byte"
inspect click 130
wait_until 10 sim_register_is 0 42 || expect_equal "data register after the second output" 42 "$(sim_register 0)"
wait_until 10 field_text_is 169 43 || expect_equal "field 169 after the second output" 43 "$(field_text 169)"

note "mode 6: output into the test FIFO, then read it back"
choose_mode 6
wait_until 10 field_text_is 102 Test || fail "mode 6 not reached"
read_button_shown() { [ "$(control_flag 131 visible)" = 1 ]; }
wait_until 10 read_button_shown || fail "button 131 not shown in mode 6"
inspect settext 169 5A
wait_until 10 field_text_is 169 5B || expect_equal "field 169 after the output" 5B "$(field_text 169)"
expect_equal "the byte waits in the FIFO" 5A "$(sim_register 8)"
inspect click 131
wait_until 10 field_text_is 168 5A || expect_equal "field 168 after Byte einlesen" 5A "$(field_text 168)"

note "mode 7: cfgA and cfgB, and typing into 169 writes cfgB"
choose_mode 7
wait_until 10 field_text_is 102 Konfiguration || fail "mode 7 not reached"
wait_until 10 field_text_is 168 10 || expect_equal "cfgA in field 168" 10 "$(field_text 168)"
wait_until 10 field_text_is 169 3C || expect_equal "cfgB in field 169" 3C "$(field_text 169)"
expect_equal "field 169 writable" 0 "$(control_flag 169 readonly)"
focus_dialog
click_field 169
xdotool key End BackSpace BackSpace BackSpace
xdotool type --delay 100 a7
wait_until 10 sim_register_is 9 A7 || expect_equal "cfgB after typing" A7 "$(sim_register 9)"
wait_until 10 field_text_is 169 A7 || expect_equal "field 169 after the write" A7 "$(field_text 169)"
expect_equal "the data register is untouched" 42 "$(sim_register 0)"

press_escape
wait_until 15 monitor_ended || fail "Escape did not end port-monitor"
expect_equal "exit code" 0 "$(cat "$MONITOR_DIR/rc")"
