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

note "the dialog's controls in template (tab) order, with their kinds and texts"
expected_controls='-1 Static Emulierte Port&adresse:
100 ComboBox
-1 Button &Datenport (+0)
160 Edit
176 Edit
-1 Button &Statusport (+1)
161 Edit
177 Edit
-1 Button S&teuerport (+2)
162 Edit
178 Edit
-1 Button &ECR (+402h)
170 Edit
102 ComboBox SPP (Nibble)
186 Edit
120 Button FIFO voll
121 Button FIFO leer
168 Edit
131 Button Byte ein&lesen
122 Button &Adresse
123 Button &Daten
130 Button Byte a&usgeben
119 Static cfgB (+401h)
169 Edit
118 Static cfgA (+400h)
117 Button Lesen'
expect_equal "controls" "$expected_controls" "$(inspect list | awk '{
  text = $0; sub(/.* text=/, "", text); if ($2 == "Edit") text = ""
  print (text == "" ? $1 " " $2 : $1 " " $2 " " text) }')"
expect_equal "read-only fields" "176 177 178 186 168" "$(inspect list | awk '/readonly=1/ { printf "%s%s", sep, $1; sep = " " }')"
expect_equal "mode names" "SPP (Nibble)
Bidirektional
AutoStrobe
ECP
EPP
reserviert
Test
Konfiguration" "$(inspect items 102)"
expect_equal "radio button &Adresse checked at start" 1 "$(control_flag 122 checked)"
expect_equal "dialog title" "Emulation" "$(xdotool getwindowname "$(xdotool search --name '^Emulation$' | head -n 1)")"

press_escape
wait_until 15 monitor_ended || fail "Escape did not end port-monitor"
expect_equal "exit code after Escape" 0 "$(cat "$MONITOR_DIR/rc")"
sim lpt 2 >/dev/null
