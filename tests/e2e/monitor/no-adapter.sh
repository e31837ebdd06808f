# Without an adapter every read request fails and yields its own command
# byte, so the read-back fields show 10, 11, 12 and 1A; the dialog runs all
# the same, and Escape ends the program with exit code 0.
. "$(dirname "${BASH_SOURCE[0]}")/monitor-lib.sh"

sim_install
sim lpt 0 >/dev/null  # no \\.\LPT2 at all
start_monitor port-monitor.exe

for field in "176 10" "177 11" "178 12" "186 1A"; do
  set -- $field
  expect_equal "read-back field $1" "$2" "$(field_text "$1")"
done
expect_equal "mode list" "SPP (Nibble)" "$(field_text 102)"
expect_equal "dialog title" "Emulation" "$(xdotool getwindowname "$(xdotool search --name '^Emulation$' | head -n 1)")"

press_escape
wait_until 15 monitor_ended || fail "Escape did not end port-monitor"
expect_equal "exit code after Escape" 0 "$(cat "$MONITOR_DIR/rc")"
sim lpt 2 >/dev/null
