# Hovering a pin or bit box with the mouse shows a tooltip window with the
# signal's name; leaving the diagram hides it. The close command ends the
# program with exit code 0.
. "$(dirname "${BASH_SOURCE[0]}")/monitor-lib.sh"

sim_start "00 00 00 00 00 00 00 00 00 00 01 00 00 00 00 00"
start_monitor

tooltip_text() { local line; line=$(inspect tooltip 2>/dev/null) || return 1; printf '%s' "${line#* text=}"; }
tooltip_is() { [ "$(tooltip_text)" = "$1" ]; }
no_tooltip() { ! inspect tooltip >/dev/null 2>&1; }

# hover X Y: the mouse to a client pixel, moved a little as a hand does.
hover() {
  local x0 y0
  read -r x0 y0 < <(client_origin)
  xdotool mousemove $(( x0 + $1 - 1 )) $(( y0 + $2 ))
  xdotool mousemove $(( x0 + $1 )) $(( y0 + $2 ))
}

# Texts are ANSI (Windows-1252): \xe4 is the a umlaut.
for case in "pin 1|/STB (Strobe)" "pin 2|Data 0" "pin 9|Data 7" "box 2 0|STB (Strobe)" "box 1 3|/ERR (Fehler)" \
            "pin 11|"$'BUSY (besch\xe4ftigt)' "box 1 7|"$'/BUSY (besch\xe4ftigt)'; do
  IFS='|' read -r element name <<<"$case"
  set -- $element
  if [ "$1" = pin ]; then read -r x y < <(pin_centre "$2"); else read -r x y < <(box_centre "$2" "$3"); fi
  note "hovering $element"
  hover "$x" "$y"
  wait_until 10 tooltip_is "$name" || expect_equal "tooltip over $element" "$name" "$(tooltip_text || true)"
  # The tracking tooltip appears centred on the cursor; leave the diagram
  # before the next element so that the mouse does not land on the tooltip.
  note "leaving the diagram hides the tooltip"
  hover 30 250
  wait_until 10 no_tooltip || fail "the tooltip stays after leaving the diagram"
done

note "closing the dialog with Alt+F4"
press_close
wait_until 15 monitor_ended || fail "Alt+F4 did not end port-monitor"
expect_equal "exit code" 0 "$(cat "$MONITOR_DIR/rc")"
