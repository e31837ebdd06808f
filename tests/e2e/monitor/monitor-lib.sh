# Helpers for the port-monitor end-to-end tests. Sourced by each test script
# (after tests/e2e/lib.sh). The monitor runs in the background; the inspector
# reads and drives its dialog from outside; the simulated adapter is steered
# with tarnel-sim-ctl.

MONITOR_DIR="$E2E_STATE/monitor"
mkdir -p "$MONITOR_DIR"

# Colours of the diagram, as ImageMagick prints a pixel.
GREEN='srgb(0,255,0)'
RED='srgb(255,0,0)'
YELLOW='srgb(224,224,0)'
WHITE='srgb(255,255,255)'

# inspector ARGS...: the dialog inspector, its output without CRs.
inspect() { run_wine 30 "$E2E_BIN/inspector.exe" "$@" | tr -d '\r'; }

# sim ARGS...: the simulated adapter's control program.
sim() { (cd "$E2E_BIN" && run_wine 60 ./tarnel-sim-ctl.exe "$@") | tr -d '\r'; }

# sim_register INDEX: a register of the simulated port as two hex digits.
sim_register() { sim get | head -n 1 | cut -d ' ' -f $(( $1 + 1 )); }
sim_register_is() { [ "$(sim_register "$1")" = "$2" ]; }

# The driver lives as long as the wineserver; a test starts it again (safe to
# repeat) and puts the port into a known state.
# sim_start "<16 register values>"
sim_install() {
  local attempt
  for attempt in 1 2 3; do
    sim install >/dev/null && sim get >/dev/null 2>&1 && return 0
    # A driver host that did not come up: start again in a new server.
    wine_server_start
  done
  fail "the simulated adapter does not start"
}
sim_start() {
  sim_install
  sim lpt 2 >/dev/null
  sim fail none >/dev/null
  sim set "$1" C2 >/dev/null || fail "tarnel-sim-ctl set"
}

port_mode_is() { [ $(( 16#$(sim_register 10) >> 5 )) -eq "$1" ]; }

# choose_mode MODE: picks the mode in list 102 (selection, then CBN_SELCHANGE
# to the dialog) until the port reports it. From outside these are two
# messages: a poll between them can put the list back to the port's mode, and
# the notification then writes that mode again. A user's choice is one.
choose_mode() {
  local attempt
  for attempt in 1 2 3; do
    inspect select 102 "$1"
    wait_until 5 port_mode_is "$1" && return 0
  done
  fail "the port did not reach mode $1"
}

# control_line ID: the inspector's line of one control.
control_line() { inspect get "$1"; }
# field_text ID: the text of a control.
field_text() { local line; line=$(control_line "$1") || return 1; printf '%s' "${line#* text=}"; }
field_text_is() { [ "$(field_text "$1")" = "$2" ]; }
# control_flag ID visible|readonly|checked: 0 or 1.
control_flag() { control_line "$1" | grep -o "$2=[01]" | cut -d= -f2; }

# start_monitor [PROGRAM]: runs port-monitor.exe (or a test build) and waits
# for the dialog's first poll (the ECR read-back field is filled).
start_monitor() {
  local program=${1:-port-monitor.exe}
  # The inspector finds the dialog by its title: there must be only ours.
  ! inspect client >/dev/null 2>&1 || fail "another \"Emulation\" dialog is open already"
  rm -f "$MONITOR_DIR/pid" "$MONITOR_DIR/rc"
  # The mouse away from the dialog: no hover, no tooltip in the screenshots.
  xdotool mousemove 1000 740
  (
    cd "$E2E_BIN"
    wine "$program" &
    echo $! > "$MONITOR_DIR/pid"
    rc=0
    wait $! || rc=$?
    echo $rc > "$MONITOR_DIR/rc"
  ) >"$MONITOR_DIR/output.log" 2>&1 &
  wait_until 60 first_poll_done || fail "$program: no dialog with a first poll"
}
first_poll_done() { [ -n "$(field_text 186 2>/dev/null)" ]; }

monitor_ended() { [ -s "$MONITOR_DIR/rc" ]; }

# End the monitor if a test left it running.
stop_monitor() {
  if [ -f "$MONITOR_DIR/pid" ] && ! monitor_ended; then
    kill "$(cat "$MONITOR_DIR/pid")" 2>/dev/null || true
    wait_until 10 monitor_ended || true
  fi
}
trap stop_monitor EXIT

# focus_dialog: the X keyboard focus to the dialog (there is no window
# manager to give it).
focus_dialog() {
  local window
  window=$(xdotool search --name '^Emulation$' | head -n 1)
  [ -n "$window" ] || fail "no X window of the dialog"
  xdotool windowfocus --sync "$window"
}

# press_escape: Escape to the dialog, through the X server as a user types it.
press_escape() {
  focus_dialog
  xdotool key Escape
}

# press_close: Alt+F4, the system menu's close command (as the close box
# gives it; without a window manager there is no caption to click).
press_close() {
  focus_dialog
  xdotool key alt+F4
}

# Screen position of a client-area pixel of the dialog.
# client_origin: the client area's top left corner on the screen. A look that
# gives nothing (the inspector's start under Wine failed once under load,
# and a read of nothing ended the test without a word) is taken again; after
# five the test fails with a line that says so.
client_origin() {
  local line attempt
  for attempt in 1 2 3 4 5; do
    line=$(inspect client | cut -d ' ' -f 1,2) || true
    [[ $line =~ ^-?[0-9]+\ -?[0-9]+$ ]] && { echo "$line"; return 0; }
    sleep 0.2
  done
  echo "FAIL: the inspector found no client area of the dialog in five looks" >&2
  return 1
}

# click_client X Y: a left click at a pixel of the dialog's client area.
click_client() {
  click_client_times 1 "$1" "$2"
}

# click_client_times N X Y: the mouse glides to a client pixel and rests
# there a moment, as a hand does before it clicks, then clicks N times.
click_client_times() {
  hover "$2" "$3"
  sleep 0.3
  xdotool click --repeat "$1" --delay 80 1
  xdotool mousemove 1000 740
}

# click_field ID: the mouse goes to the middle of control ID, rests there a
# moment and clicks.
click_field() {
  local x y w h
  read -r x y w h < <(inspect rect "$1")
  xdotool mousemove $(( x + w / 2 )) $(( y + h / 2 ))
  sleep 0.3
  xdotool click 1
  xdotool mousemove 1000 740
}

# screenshot NAME: the client area as $MONITOR_DIR/NAME.png; prints the path.
screenshot() {
  local bmp="$MONITOR_DIR/$1.bmp" png="$MONITOR_DIR/$1.png"
  inspect shot "Z:${bmp//\//\\}" || fail "screenshot $1"
  convert "$bmp" "$png"
  rm -f "$bmp"
  printf '%s' "$png"
}

# pixels PNG X,Y...: the colour of each pixel, one line each (one convert run).
pixels() {
  local png=$1 format="" point
  shift
  for point in "$@"; do format+="%[pixel:p{$point}]\n"; done
  convert "$png" -format "$format" info:
}

# expect_pixels PNG "WHAT|X,Y|COLOUR"...: all pixels checked with one convert run.
expect_pixels() {
  local png=$1 spec points=() colours=() whats=() actual i=0
  shift
  for spec in "$@"; do
    IFS='|' read -r what point colour <<<"$spec"
    whats+=("$what") points+=("$point") colours+=("$colour")
  done
  while IFS= read -r actual; do
    [ "$actual" = "${colours[$i]}" ] ||
      fail "${whats[$i]}: pixel (${points[$i]}) is $actual, expected ${colours[$i]} (see $png)"
    i=$(( i + 1 ))
  done < <(pixels "$png" "${points[@]}")
  [ "$i" -eq "${#points[@]}" ] || fail "could not read the pixels of $png"
}

# expect_pixel WHAT PNG X Y COLOUR
expect_pixel() { expect_pixels "$2" "$1|$3,$4|$5"; }

# Geometry of the diagram, in client pixels.
pin_centre() {  # pin number 1..25
  local p=$(( $1 - 1 ))
  if [ $p -le 12 ]; then echo "$(( 254 - 16 * p )) 104"; else echo "$(( 454 - 16 * p )) 120"; fi
}
box_centre() {  # row 0 data, 1 status, 2 control; bit 0..7
  local anchors=("126 62" "82 172" "150 212") x y
  read -r x y <<<"${anchors[$1]}"
  echo "$(( x + 16 * (7 - $2) )) $y"
}

# pin_spec PIN COLOUR: the colour inside the pin's circle (white: low level,
# row colour: high level).
pin_spec() {
  local x y
  read -r x y < <(pin_centre "$1")
  printf '%s\n' "pin $1|$x,$y|$2"
}

# box_specs ROW BIT UPPER_LEFT LOWER_RIGHT: the colours of a bit box's
# read-back half (upper left) and written half (lower right), sampled away
# from its label and overline.
box_specs() {
  local x y names=(D S C)
  read -r x y < <(box_centre "$1" "$2")
  printf '%s\n' "box ${names[$1]}$2, read-back half|$(( x - 6 )),$(( y - 7 ))|$3" \
                 "box ${names[$1]}$2, written half|$(( x + 6 )),$(( y + 6 ))|$4"
}

# row_specs ROW COLOUR WRITTEN READ: every box of a row for a written and a
# read-back value (hex digits): the upper-left half shows the read-back bit,
# the lower-right half the written bit.
row_specs() {
  local bit ul lr written=$(( 16#$3 )) read=$(( 16#$4 ))
  for bit in 0 1 2 3 4 5 6 7; do
    ul=$WHITE lr=$WHITE
    if (( (read >> bit) & 1 )); then ul=$2; fi
    if (( (written >> bit) & 1 )); then lr=$2; fi
    box_specs "$1" "$bit" "$ul" "$lr"
  done
}

# expect_picture PNG SPEC_LINES: checks every "WHAT|X,Y|COLOUR" line.
expect_picture() {
  local png=$1 specs=()
  mapfile -t specs <<<"$2"
  expect_pixels "$png" "${specs[@]}"
}

# Tooltips: the visible tooltip of the monitor and its text.
tooltip_text() { local line; line=$(inspect tooltip 2>/dev/null) || return 1; printf '%s' "${line#* text=}"; }
tooltip_is() { [ "$(tooltip_text)" = "$1" ]; }
no_tooltip() { ! inspect tooltip >/dev/null 2>&1; }

# glide DX DY: the mouse from where it is, in four steps as a hand moves it.
# Under Wine the dialog learns the element under the cursor one mouse message
# late (during WM_SETCURSOR, GetMessagePos still holds the message before),
# so the steps are small where it matters: at the end of a movement.
glide() {
  local X Y SCREEN WINDOW step
  eval "$(xdotool getmouselocation --shell)"
  for step in 1 2 3 4; do
    xdotool mousemove $(( X + $1 * step / 4 )) $(( Y + $2 * step / 4 ))
    sleep 0.03
  done
}

# hover X Y: the mouse glides to a client pixel and settles on it by pixels.
hover() {
  local x0 y0 X Y SCREEN WINDOW
  read -r x0 y0 < <(client_origin)
  eval "$(xdotool getmouselocation --shell)"
  glide $(( x0 + $1 - 2 - X )) $(( y0 + $2 - Y ))
  glide 2 0
}

# tooltip_shows TEXT: for wait_until; between looks the hand trembles by a
# pixel and back, as a resting hand does.
tooltip_shows() {
  tooltip_is "$1" && return 0
  local X Y SCREEN WINDOW
  eval "$(xdotool getmouselocation --shell)"
  xdotool mousemove $(( X + 1 )) "$Y" mousemove "$X" "$Y"
  return 1
}
