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
note "positions (dialog units, from the client area's 254 x 210) and kinds of the controls"
# id x y w h (- : a combo box's height is its drop-down list's) style-mask style
template='-1 56 8 78 8 0x1F 0x00
100 142 6 100 - 0x03 0x02
-1 18 24 224 26 0x0F 0x07
160 218 34 18 12 0x0809 0x0009
176 24 34 18 12 0x0809 0x0801
-1 18 90 224 26 0x0F 0x07
161 218 100 18 12 0x0809 0x0009
177 24 100 18 12 0x0809 0x0801
-1 18 116 224 26 0x0F 0x07
162 218 126 18 12 0x0809 0x0009
178 24 126 18 12 0x0809 0x0801
-1 18 164 224 28 0x0F 0x07
170 218 174 18 12 0x0809 0x0009
102 48 174 76 - 0x03 0x03
186 24 174 18 12 0x0809 0x0801
120 152 170 44 10 0x0800000F 0x08000004
121 152 180 45 10 0x0800000F 0x08000004
168 24 150 18 12 0x0009 0x0001
131 48 148 56 14 0x800F 0x0000
122 106 146 48 10 0x0F 0x09
123 106 156 48 10 0x0F 0x09
130 156 148 56 14 0x800F 0x0000
119 172 150 42 8 0x1F 0x02
169 218 148 18 12 0x0809 0x0009
118 46 152 42 8 0x1F 0x00
117 45 34 28 12 0x800F 0x8000'
read -r _ _ client_w client_h < <(inspect client)
layout=$(inspect layout)
[ "$(wc -l <<<"$layout")" -eq "$(wc -l <<<"$template")" ] || fail "the dialog has $(wc -l <<<"$layout") controls"
while IFS='|' read -r want actual; do
  read -r id x y w h mask style <<<"$want"
  read -r got_id px py pw ph got_style <<<"$actual"
  [ "$got_id" = "$id" ] || fail "control $got_id where $id belongs in the tab order"
  for pair in "x $x $px $client_w 254" "y $y $py $client_h 210" "w $w $pw $client_w 254" "h $h $ph $client_h 210"; do
    read -r what dlu pixels extent units <<<"$pair"
    [ "$dlu" = - ] && continue
    # Dialog units are rounded to pixels: one unit of slack.
    measured=$(( (pixels * units * 2 + extent) / (extent * 2) ))
    (( measured >= dlu - 1 && measured <= dlu + 1 )) ||
      fail "control $id: $what is $measured dialog units, expected $dlu"
  done
  (( (16#$got_style & mask) == style )) ||
    fail "control $id: style $got_style, expected $(printf '%X' "$style") under the mask $(printf '%X' "$mask")"
done < <(paste -d '|' <(printf '%s\n' "$template") <(printf '%s\n' "$layout"))
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
