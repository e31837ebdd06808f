# Choosing a mode in list 102 (selection plus notification, as a user's
# choice arrives) writes the ECR; the lower controls change to that mode's
# row once the poll reads the mode back. The port refuses "reserviert": the
# controls stay, and the list goes back to the mode the port reports.
. "$(dirname "${BASH_SOURCE[0]}")/monitor-lib.sh"

mode_names=("SPP (Nibble)" "Bidirektional" "AutoStrobe" "ECP" "EPP" "reserviert" "Test" "Konfiguration")
mode_flags=(0x52 0x52 0x52 0xDF 0x5F 0x02 0x57 0x11)

# expected_controls MODE: the lower controls as the mode's flags set them,
# in template order.
expected_controls() {
  local m=$1 f=$(( mode_flags[$1] )) caption="&Adresse" refresh=1
  (( f & 0x80 )) && caption="Komm&ando"
  if (( m < 2 || m == 4 )); then refresh=0; fi
  printf '%s\n' \
    "168 visible=$(( f & 1 ? 1 : 0 )) readonly=$(( f & 2 ? 1 : 0 ))" \
    "131 visible=$(( f & 4 ? 1 : 0 ))" \
    "122 visible=$(( f & 8 ? 1 : 0 )) text=$caption" \
    "123 visible=$(( f & 8 ? 1 : 0 ))" \
    "130 visible=$(( f & 0x40 ? 1 : 0 ))" \
    "119 visible=$(( f & 2 ? 0 : 1 ))" \
    "169 visible=$(( f & 0x10 ? 1 : 0 )) readonly=$(( f & 0x20 ? 1 : 0 ))" \
    "118 visible=$(( f & 2 ? 0 : 1 ))" \
    "117 visible=$refresh"
}

# actual_controls: the same items as the inspector sees them.
actual_controls() {
  inspect list | awk '
    $1 == 168 || $1 == 169 { print $1, $3, $4; next }
    $1 == 122 { t = $0; sub(/.* text=/, "", t); print $1, $3, "text=" t; next }
    $1 == 131 || $1 == 123 || $1 == 130 || $1 == 118 || $1 == 119 || $1 == 117 { print $1, $3 }'
}

controls_are() { [ "$(actual_controls)" = "$1" ]; }

# expect_mode MODE: the port, the list and the controls all in MODE.
expect_mode() {
  local expected
  expected=$(expected_controls "$1")
  wait_until 10 controls_are "$expected" || expect_equal "controls in mode $1" "$expected" "$(actual_controls)"
  expect_equal "ECR mode of the port" "$1" "$(( 16#$(sim_register 10) >> 5 ))"
  wait_until 10 field_text_is 102 "${mode_names[$1]}" ||
    expect_equal "mode list" "${mode_names[$1]}" "$(field_text 102)"
}

sim_start "00 00 00 00 00 00 00 00 00 3C 01 00 00 00 00 00"
start_monitor
expect_mode 0

for m in 1 2 3 4 6 7 0 7; do
  note "choosing ${mode_names[$m]}"
  choose_mode "$m"
  expect_mode "$m"
done

note "in mode 7 fields 168 and 169 show cfgA and cfgB"
expect_equal "cfgA" 10 "$(field_text 168)"
expect_equal "cfgB" 3C "$(field_text 169)"

note "choosing reserviert: the port refuses"
inspect select 102 5
# The poll reads back the unchanged mode 7: the list follows the port.
wait_until 10 field_text_is 102 "${mode_names[7]}" ||
  expect_equal "mode list after the refused switch" "${mode_names[7]}" "$(field_text 102)"
expect_mode 7

press_escape
wait_until 15 monitor_ended || fail "Escape did not end port-monitor"
expect_equal "exit code" 0 "$(cat "$MONITOR_DIR/rc")"
