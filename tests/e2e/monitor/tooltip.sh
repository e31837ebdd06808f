# Hovering a pin or bit box with the mouse shows a tooltip window with the
# signal's name; leaving the diagram hides it. The tooltip never lies under
# the pointer: a click after it appeared reaches the bit, and moving on to the
# next element changes its text. The close command ends the program with exit
# code 0.
. "$(dirname "${BASH_SOURCE[0]}")/monitor-lib.sh"

sim_start "00 00 00 00 00 00 00 00 00 00 01 00 00 00 00 00"
start_monitor

# Texts are ANSI (Windows-1252): \xe4 is the a umlaut.
for case in "pin 1|/STB (Strobe)" "pin 2|Data 0" "pin 9|Data 7" "box 2 0|STB (Strobe)" "box 1 3|/ERR (Fehler)" \
            "pin 11|"$'BUSY (besch\xe4ftigt)' "box 1 7|"$'/BUSY (besch\xe4ftigt)'; do
  IFS='|' read -r element name <<<"$case"
  set -- $element
  if [ "$1" = pin ]; then read -r x y < <(pin_centre "$2"); else read -r x y < <(box_centre "$2" "$3"); fi
  note "hovering $element"
  hover "$x" "$y"
  wait_until 10 tooltip_shows "$name" || expect_equal "tooltip over $element" "$name" "$(tooltip_text || true)"
  note "leaving the diagram hides the tooltip"
  hover 30 250
  wait_until 10 no_tooltip || fail "the tooltip stays after leaving the diagram"
done

# rest_on X Y TEXT: hover until the tooltip shows TEXT.
rest_on() {
  hover "$1" "$2"
  wait_until 10 tooltip_shows "$3" || expect_equal "tooltip at $1,$2" "$3" "$(tooltip_text || true)"
}

note "resting on D4 until the tooltip shows, then a click without moving toggles the bit"
read -r x y < <(box_centre 0 4)
rest_on "$x" "$y" "Data 4"
read -r tx ty _ < <(inspect tooltip)
read -r x0 y0 < <(client_origin)
[ "$ty" -ge $(( y0 + y + 20 )) ] || fail "the tooltip's top edge $ty is less than 20 pixels below the pointer ($(( y0 + y )))"
xdotool click 1
wait_until 10 sim_register_is 0 9F || expect_equal "data register after the click under the tooltip" 9F "$(sim_register 0)"

note "straight on to D3: the text follows; 6 pixels down inside D3 a click toggles it"
glide 16 0
wait_until 10 tooltip_is "Data 3" || expect_equal "tooltip after moving to D3" "Data 3" "$(tooltip_text || true)"
glide 0 6
xdotool click 1
wait_until 10 sim_register_is 0 97 || expect_equal "data register after the click on D3" 97 "$(sim_register 0)"

note "from pin 2 straight to pin 3: the text follows"
read -r x y < <(pin_centre 2)
rest_on "$x" "$y" "Data 0"
glide -16 0
wait_until 10 tooltip_is "Data 1" || expect_equal "tooltip after moving to pin 3" "Data 1" "$(tooltip_text || true)"

note "closing the dialog with Alt+F4"
press_close
wait_until 15 monitor_ended || fail "Alt+F4 did not end port-monitor"
expect_equal "exit code" 0 "$(cat "$MONITOR_DIR/rc")"
