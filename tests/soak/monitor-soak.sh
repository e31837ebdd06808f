#!/usr/bin/env bash
# monitor-soak.sh MINUTES: port-monitor.exe for that long under Wine against a
# simulated adapter whose input lines change every 40 ms, so that every poll
# redraws bit boxes and pins. Meanwhile the mouse rests on pins and boxes now
# and then (tooltips) and the ECR mode changes from time to time.
#
# Once a minute it samples the monitor's process: GDI and USER objects
# (GetGuiResources; Wine reports 0 for both), its windows and its resident
# memory. The first sample is taken after a warm-up round that touched every
# mode and element once. It fails when a count exceeds the first sample or
# the memory grows by more than 1 MiB, and prints the samples as a table.
# At the end the lines stop, and the picture the incremental redraws left
# must equal a full repaint of the dialog, pixel for pixel in the diagram.
#
# Run by hand from the top of the tree after building the windows preset
# (it makes its own display and Wine prefix as the test suite does):
#   tests/soak/monitor-soak.sh 60
# E2E_BUILD chooses another build tree (default build/windows).
set -euo pipefail

minutes=${1:-}
[[ "$minutes" =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 MINUTES (a whole number, at least 1)" >&2; exit 2; }

if [ -z "${E2E_SRC:-}" ]; then
  # By hand: the environment the test suite's fixture gives.
  E2E_SRC=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  E2E_BUILD=$(cd "${E2E_BUILD:-$E2E_SRC/build/windows}" && pwd)
  export E2E_SRC E2E_BUILD E2E_BIN="$E2E_BUILD/bin"
  [ -f "$E2E_BUILD/e2e/setup-hooks" ] || { echo "build the windows preset first" >&2; exit 2; }
  bash "$E2E_SRC/tests/e2e/wine-setup" "$E2E_BUILD/e2e/setup-hooks"
  trap 'bash "$E2E_SRC/tests/e2e/wine-cleanup"' EXIT
  . "$E2E_SRC/tests/e2e/lib.sh"
  . "$E2E_SRC/tests/e2e/monitor/monitor-lib.sh"
  trap 'stop_monitor; bash "$E2E_SRC/tests/e2e/wine-cleanup"' EXIT
else
  . "$E2E_SRC/tests/e2e/monitor/monitor-lib.sh"
fi

sample_seconds=${SOAK_SAMPLE_SECONDS:-60}
table="$MONITOR_DIR/soak-samples.txt"

tooltip_shown() { ! no_tooltip; }

# Pins of both rows, boxes of all three rows, ground and empty space.
elements=("pin 1" "box 0 4" "pin 11" "box 1 7" "pin 14" "box 2 0" "pin 6" "box 1 3" "pin 17" "box 2 3" "pin 20")
modes=(1 2 3 4 6 7 0)
tooltips=0 element_at=0 mode_at=0

hover_next() {
  local x y
  set -- ${elements[$element_at]}
  element_at=$(( (element_at + 1) % ${#elements[@]} ))
  if [ "$1" = pin ]; then read -r x y < <(pin_centre "$2"); else read -r x y < <(box_centre "$2" "$3"); fi
  hover "$x" "$y"
  # A ground pin shows none.
  if [ "$1 $2" != "pin 20" ] && wait_until 5 tooltip_shown; then tooltips=$(( tooltips + 1 )); fi
}

next_mode() {
  hover 30 250
  choose_mode "${modes[$mode_at]}"
  mode_at=$(( (mode_at + 1) % ${#modes[@]} ))
}

# sample MINUTE: one line of the table: minute gdi user windows rss_kib.
sample() {
  local minute=$1 line rss
  line=$(inspect resources) || fail "the inspector cannot read the monitor's process"
  rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$(cat "$MONITOR_DIR/pid")/status")
  [ -n "$rss" ] || fail "no resident memory of the monitor's process"
  set -- $line
  printf '%s %s %s %s %s\n' "$minute" "${1#gdi=}" "${2#user=}" "${3#windows=}" "$rss" >> "$table"
}

print_table() {
  note "samples (minute, GDI objects, USER objects, windows, resident KiB):"
  { echo "minute gdi user windows rss_kib"; cat "$table"; } | while read -r a b c d e; do
    printf '%6s %5s %5s %8s %8s\n' "$a" "$b" "$c" "$d" "$e"
  done >&2
}

# Status lines and data lines (read while control bit 5 is set) change every
# 40 ms, faster than the 100 ms poll.
sim_start "00 00 24 00 00 00 00 00 00 00 01 00 00 00 00 00"
sim animate 40 >/dev/null
start_monitor
pid=$(cat "$MONITOR_DIR/pid")
grep -q 'port-monitor' "/proc/$pid/cmdline" || fail "process $pid is not port-monitor.exe"
rm -f "$table"
status_seen=$(field_text 177)
status_changed() { ! field_text_is 177 "$status_seen"; }
wait_until 5 status_changed || fail "the monitor does not show the changing status lines"

note "warm-up: every mode and every element once"
for _ in "${modes[@]}"; do next_mode; done
for _ in "${elements[@]}"; do hover_next; done
first=$(date +%s)
sample 0
end=$(( first + minutes * 60 ))
next_sample=$(( first + sample_seconds ))
minute=0 actions=0
note "soaking for $minutes minute(s)"
while [ "$(date +%s)" -lt "$end" ]; do
  hover_next
  actions=$(( actions + 1 ))
  (( actions % 10 )) || next_mode
  if [ "$(date +%s)" -ge "$next_sample" ]; then
    minute=$(( minute + 1 ))
    sample "$minute"
    next_sample=$(( next_sample + sample_seconds ))
  fi
  # Now and then: the monitor polls and redraws on its own in between.
  sleep 1
done
[ "$minute" -ge 1 ] || { sample 1; minute=1; }
print_table
note "$actions hover actions, $tooltips tooltips shown, $(( actions / 10 + ${#modes[@]} )) mode changes"
monitor_ended && fail "port-monitor ended during the soak"

read -r _ gdi0 user0 windows0 rss0 < <(head -n 1 "$table")
while read -r at gdi user windows rss; do
  [ "$gdi" -le "$gdi0" ] || fail "GDI objects grew to $gdi at minute $at (first sample $gdi0)"
  [ "$user" -le "$user0" ] || fail "USER objects grew to $user at minute $at (first sample $user0)"
  [ "$windows" -le "$windows0" ] || fail "windows grew to $windows at minute $at (first sample $windows0)"
  [ $(( rss - rss0 )) -le 1024 ] || fail "resident memory grew by $(( rss - rss0 )) KiB at minute $at"
done < <(tail -n +2 "$table")

note "the lines stop; the picture equals a full repaint"
sim animate off >/dev/null
choose_mode 1  # the data row is read back as well
hover 30 250
xdotool mousemove 1000 740
# Settled: the read-back fields show the port's lines.
status_shown() { field_text_is 177 "$(sim_register 1)" && field_text_is 176 "$(sim_register 0)"; }
wait_until 10 status_shown || fail "the read-back fields do not settle after the lines stopped"
before=$(screenshot soak-incremental)
inspect repaint || fail "inspector repaint"
# The diagram: connector, pin numbers, links and the three rows of bit boxes.
# A pin's redraw paints its circle and not its number, whose foot reaches into
# the top of the circle: those pixels (right of the centre, top three rows of
# the pin's square) are left out of the comparison.
crop_x=44 crop_y=50
mask=()
for pin in $(seq 1 25); do
  read -r x y < <(pin_centre "$pin")
  mask+=(-draw "rectangle $(( x + 1 - crop_x )),$(( y - 5 - crop_y )) $(( x + 5 - crop_x )),$(( y - 3 - crop_y ))")
done
diagram() { convert "$1" -crop "230x174+$crop_x+$crop_y" +repage -fill black "${mask[@]}" "$2"; }
diagram "$before" "$MONITOR_DIR/soak-diagram-incremental.png"
diagram_equal() {
  diagram "$(screenshot soak-repainted)" "$MONITOR_DIR/soak-diagram-repainted.png"
  [ "$(compare -metric AE "$MONITOR_DIR/soak-diagram-incremental.png" "$MONITOR_DIR/soak-diagram-repainted.png" \
       null: 2>&1 || true)" = 0 ]
}
wait_until 5 diagram_equal || fail "incremental picture differs from the full repaint (see $before and $MONITOR_DIR/soak-repainted.png)"

press_escape
wait_until 15 monitor_ended || fail "Escape did not end port-monitor"
expect_equal "exit code" 0 "$(cat "$MONITOR_DIR/rc")"
