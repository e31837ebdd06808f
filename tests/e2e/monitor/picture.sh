# The first poll's picture of a known port state: pins show the levels at the
# connector (inverted signals complemented), bit boxes the written and the
# read-back bits, in the row colours at their pixels. Argument: the program
# (port-monitor.exe, or the test builds for access methods 1 and 2).
. "$(dirname "${BASH_SOURCE[0]}")/monitor-lib.sh"
program=${1:-port-monitor.exe}

# Status input lines 88 (S7, S3), control 05 (C0, C2), mode 0. The monitor
# writes 8F to the data register at start-up.
sim_start "00 88 05 00 00 00 00 00 00 00 01 00 00 00 00 00"
start_monitor "$program"
expect_equal "register 0 after start-up" 8F "$(sim_register 0)"
for field in "176 8F" "177 88" "178 05" "186 01"; do
  set -- $field
  wait_until 10 field_text_is "$1" "$2" || expect_equal "read-back field $1" "$2" "$(field_text "$1")"
done
expect_equal "FIFO leer" 1 "$(control_flag 121 checked)"
expect_equal "FIFO voll" 0 "$(control_flag 120 checked)"

png=$(screenshot "picture-${program%.exe}")
# Pins: data as written; S7 (pin 11), C0 (pin 1), C1 (pin 14) and C3 (pin 17)
# are inverted at the connector; 18..25 are ground.
specs=$(
  row_specs 0 "$GREEN" 8F 8F
  row_specs 1 "$RED" 88 88
  row_specs 2 "$YELLOW" 05 05
  for pin_colour in "1 $WHITE" "2 $GREEN" "3 $GREEN" "4 $GREEN" "5 $GREEN" "6 $WHITE" "7 $WHITE" "8 $WHITE" \
                    "9 $GREEN" "10 $WHITE" "11 $WHITE" "12 $WHITE" "13 $WHITE" "14 $YELLOW" "15 $RED" \
                    "16 $YELLOW" "17 $YELLOW" "18 $WHITE" "25 $WHITE"; do
    pin_spec $pin_colour
  done
  echo "connector outline|266,100|srgb(0,0,0)"
)
expect_picture "$png" "$specs"

press_escape
wait_until 15 monitor_ended || fail "Escape did not end $program"
expect_equal "exit code" 0 "$(cat "$MONITOR_DIR/rc")"
