# Every label and button text of the dialog is whole: none needs more room
# than its control leaves it (measured in the dialog's process with the
# control's own font, as the inspector's "texts" tells), in the start mode,
# in mode 3 (the caption "Komm&ando") and in mode 7 (the labels of cfgA and
# cfgB). The dialog's base units are those its font has on Windows, 6 x 13;
# a prefix without the dialog font's substitute fails here.
. "$(dirname "${BASH_SOURCE[0]}")/monitor-lib.sh"

# expect_texts_fit WHAT "ID KIND"...: measures the dialog; each named control
# must be among the measured ones, and no text may be too wide or too tall.
expect_texts_fit() {
  local what=$1 lines control too_big
  shift
  lines=$(inspect texts) || fail "$what: the texts could not be measured"
  note "$what: $(head -n 1 <<<"$lines")"
  expect_contains "$what: the dialog's base units" " dialog=6x13" "$(head -n 1 <<<"$lines")"
  for control in "$@"; do
    grep -q "^$control " <<<"$lines" || fail "$what: no text measured for control $control in:
$lines"
  done
  too_big=$(awk -F'[ =x]' 'NR > 1 && ($4 > $7 || $5 > $8)' <<<"$lines")
  [ -z "$too_big" ] || fail "$what: texts that do not fit their controls (need > room):
$too_big"
}

# type_ecr HEX: a person clicks into the ECR field, clears it and types a
# value; it is written after the delay, and the poll then shows the mode.
type_ecr() {
  focus_dialog
  click_field 170
  xdotool key End BackSpace BackSpace BackSpace
  xdotool type --delay 80 "$1"
  wait_until 10 sim_register_is 10 "$1" || fail "ECR $1 was not written"
}

cfg_labels_shown() { [ "$(control_flag 118 visible)$(control_flag 119 visible)" = 11 ]; }

sim_start "5A 87 04 00 00 00 00 00 00 00 21 00 00 00 00 00"
start_monitor
expect_texts_fit "start mode" "-1 static" "-1 group" "120 radio" "121 radio" "130 button"

type_ecr 61
wait_until 10 field_text_is 122 "Komm&ando" || fail "no caption \"Komm&ando\" in mode 3"
expect_texts_fit "mode 3" "122 radio" "123 radio" "131 button" "130 button" "117 button"

type_ecr E1
wait_until 10 cfg_labels_shown || fail "labels 118 and 119 not shown in mode 7"
expect_texts_fit "mode 7" "118 static" "119 static"

press_escape
wait_until 10 monitor_ended || fail "the monitor did not end on Escape"
