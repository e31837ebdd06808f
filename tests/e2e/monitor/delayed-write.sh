# A value typed into a hex field is written about 500 ms after the last
# keystroke; text that is not a plain hex number ("12G", or one with its own
# "0x") writes nothing.
. "$(dirname "${BASH_SOURCE[0]}")/monitor-lib.sh"

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

sim_start "00 00 00 00 00 00 00 00 00 00 01 00 00 00 00 00"
start_monitor
wait_until 10 field_text_is 176 8F || fail "data read-back after start-up"

note "typing A5 into field 160"
focus_dialog
click_field 160
# Two keystrokes 200 ms apart from one xdotool, so that the gap does not grow
# with the machine's load: the first starts the delay, the second starts it
# again, and only A5 may reach the port. The second key goes down at least
# 200 ms after the call begins, so the write is due no sooner than 700 ms
# after it; a read that comes late only makes the time longer.
sim writes >/dev/null
before=$(now_ms)
xdotool type --delay 200 A5
until sim_register_is 0 A5; do
  [ $(( $(now_ms) - before )) -lt 10000 ] || fail "A5 was not written within 10 s of the keystrokes"
  sleep 0.05
done
written=$(now_ms)
note "written $(( written - before )) ms after the typing began"
[ $(( written - before )) -ge 600 ] || fail "A5 was written $(( written - before )) ms after the typing began, before the delay"
expect_equal "writes while typing" "00 A5" "$(sim writes)"
wait_until 10 field_text_is 176 A5 || expect_equal "read-back field 176" A5 "$(field_text 176)"

for bad in 12G 0x12; do
  note "\"$bad\" in field 160 writes nothing"
  inspect settext 160 "$bad"
  # The delay passes, and more; the register must stay.
  sleep 1.5
  expect_equal "data register after \"$bad\"" A5 "$(sim_register 0)"
done

note "a plain hex number set the same way is written"
inspect settext 160 3c
wait_until 10 sim_register_is 0 3C || expect_equal "data register after 3c" 3C "$(sim_register 0)"

note "1FF into field 162 writes FF (the low byte)"
inspect settext 162 1FF
wait_until 10 sim_register_is 2 FF || expect_equal "control register after 1FF" FF "$(sim_register 2)"

press_escape
wait_until 15 monitor_ended || fail "Escape did not end port-monitor"
expect_equal "exit code" 0 "$(cat "$MONITOR_DIR/rc")"
