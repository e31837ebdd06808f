#!/usr/bin/env bash
# The shipped hex-upload on the real kernel, inside scripts/vm-run's VM: the
# simulated bootloaders sit on USB ports of vhci-hcd, usbhid and hidraw carry
# the reports, systemd-udevd applies the project's rule. One boot runs every
# case; each writes RESULTS/<case>.result (PASS, FAIL or SKIP on its first
# line, then what it saw), which the ctest tests vm.<case> read.
#   cases.sh <hex-upload> <hex-upload-sim> <results dir>
set -uo pipefail
program=$1 sim=$2 results=$3
guest=scripts/vm/guest
flash=build/vm/flash
work=$(mktemp -d)
chmod 755 "$work"  # the user of the cases without root reads the HEX file
trap 'rm -rf "$work"' EXIT
mkdir -p "$results"
rm -f "$results"/*.result

# shellcheck source=tests/vm/case-lib.sh
source tests/vm/case-lib.sh

# plug ARGS...: the devices of the case; their "place path" lines in $work/places.
plug() {
  "$guest" plug "$@" > "$work/places" 2> "$work/plug.err" || {
    fail "the devices could not be attached: $(cat "$work/plug.err")"
    return 1
  }
}
path_of() { awk -v place="$1" '$1 == place { print $2 }' "$work/places"; }

# run NAME [--user USER] ARGS...: hex-upload's output in $work/NAME.out, its exit code in $work/NAME.code.
run() {
  local name=$1
  shift
  local -a as=()
  if [ "$1" = --user ]; then
    as=("$guest" as-user "$2")
    shift 2
  fi
  timeout 300 "${as[@]}" "$program" "$@" > "$work/$name.out" 2> "$work/$name.err"
  echo $? > "$work/$name.code"
  note "--- hex-upload $* (exit $(cat "$work/$name.code"))"
  sed 's/^/  /' "$work/$name.out" "$work/$name.err" >> "$work/$case_name.notes"
}
expect_code() {
  [ "$(cat "$work/$1.code")" = "$2" ] || fail "$1: exit code $(cat "$work/$1.code"), not $2"
  [ ! -s "$work/$1.err" ] || fail "$1: wrote to standard error"
}
expect_line() { grep -qF -- "$2" "$work/$1.out" || fail "$1: no line with \"$2\""; }
# board PLACE written|erased|unwritten|other: its flash; erased boards got no
# report at all, unwritten ones none sent to them (they may have been asked).
board() {
  case $2 in
  written) cmp -s "$work/written.bin" "$flash/$1.bin" || fail "$1 does not hold the image" ;;
  erased)
    cmp -s "$work/erased.bin" "$flash/$1.bin" || fail "$1 is not erased"
    [ ! -s "$flash/$1.log" ] || fail "reports reached $1: $(head -n 3 "$flash/$1.log")" ;;
  unwritten)
    cmp -s "$work/erased.bin" "$flash/$1.bin" || fail "$1 is not erased"
    ! grep -q '^set' "$flash/$1.log" || fail "reports were sent to $1: $(grep -m 3 '^set' "$flash/$1.log" | cut -c 1-40)" ;;
  other) ! cmp -s "$work/written.bin" "$flash/$1.bin" || fail "$1 holds the whole image" ;;
  esac
}
gone() { [ ! -e "/sys/bus/usb/devices/$1" ]; }

python3 tests/e2e/sorbel/make_hex.py "$work/image.hex" "$work/written.bin" 32768 0 4096 33
head -c 32768 /dev/zero | tr '\0' '\377' > "$work/erased.bin"

# One board, written byte for byte; the output and the reports as the
# simulator's; after the closing report the board leaves the bus.
begin one_board
if plug --boards 1; then
  run one "$work/image.hex"
  expect_code one 0
  board 1-1 written
  SORBEL_SIM_LOG="$work/sim.log" "$sim" "$work/image.hex" > "$work/sim.out" 2>&1
  sed -i "s|/dev/hidraw[0-9]*|HIDRAW|g" "$work/sim.out"
  sed "s|/dev/hidraw[0-9]*|HIDRAW|g" "$work/one.out" > "$work/one.cmp"
  cmp -s "$work/sim.out" "$work/one.cmp" ||
    fail "the output differs from hex-upload-sim's: $(diff "$work/sim.out" "$work/one.cmp" | head -n 6)"
  cmp -s "$work/sim.log" "$flash/1-1.log" ||
    fail "the reports differ from hex-upload-sim's: $(diff "$work/sim.log" "$flash/1-1.log" | head -n 6 | cut -c 1-80)"
  wait_until 10 gone 1-1 || fail "the board did not leave the bus after the closing report"
fi
end

# Three boards: --list shows exactly the three, -d writes one, --all all.
begin three_boards_list
if plug --boards 3; then
  run list --list
  expect_code list 0
  for k in 1 2 3; do printf '1-%s\t%s\tSorbel\tready\n' "$k" "$(path_of "1-$k")"; done > "$work/list.expected"
  cmp -s "$work/list.expected" "$work/list.out" || fail "--list printed other lines than the three boards"
  for k in 1 2 3; do board "1-$k" erased; done
fi
end

begin three_boards_device
if plug --boards 3; then
  run chosen -d 1-2 "$work/image.hex"
  expect_code chosen 0
  ! grep -q "^Note:" "$work/chosen.out" || fail "-d printed the note for several boards"
  board 1-1 erased
  board 1-2 written
  board 1-3 erased
fi
end

begin three_boards_all
if plug --boards 3; then
  run all --all "$work/image.hex"
  expect_code all 0
  expect_line all "Summary: 3 of 3 written"
  for k in 1 2 3; do board "1-$k" written; done
fi
end

# Pulled out after 10 of 32 blocks: clear lines, exit 1, no crash.
begin pulled_out
if plug --boards 1 --fault 1:unplug=10; then
  run pulled "$work/image.hex"
  expect_code pulled 1
  expect_line pulled " Error uploading data block: "
  expect_line pulled "Error opening Sorbel device: The specified device was not found"
  board 1-1 other
  wait_until 10 gone 1-1 || fail "the board is still on the bus"
fi
end

# The device info request stalls: the attempts say so, nothing is written.
begin stalled_info
if plug --boards 1 --fault 1:stall=info; then
  run stalled "$work/image.hex"
  expect_code stalled 1
  expect_line stalled "Error reading page size: "
  board 1-1 unwritten
fi
end

# The first device info request is never answered: the kernel gives up
# after its timeout and unlinks it, the next attempt writes the board.
begin unanswered_info
if plug --boards 1 --fault 1:hang=info@1; then
  run unanswered "$work/image.hex"
  expect_code unanswered 0
  expect_line unanswered "Error reading page size: "
  expect_line unanswered "The firmware is written successfully after 1 retries."
  board 1-1 written
fi
end

# The device info report comes back 3 bytes long (the kernel tells the
# count): the program's own check refuses the board, nothing is written.
begin short_info
if plug --boards 1 --fault 1:info-length=3; then
  run short "$work/image.hex"
  if grep -q "^Device size = 0 (0x0)" "$work/short.out"; then
    skip "this hex-upload does not look at the length of the device info report the kernel returns"
  else
    expect_code short 1
    expect_line short "Not enough bytes in device info report"
    board 1-1 unwritten
  fi
fi
[ -e "$results/short_info.result" ] || end

# A user with no seat session, in group plugdev: the rule lets it write.
begin user_plugdev
if plug --boards 1; then
  node=$(path_of 1-1)
  [ "$(stat -c '%G %a' "$node")" = "plugdev 660" ] ||
    fail "$node is $(stat -c '%U:%G %a' "$node"), not group plugdev, mode 660"
  run user --user bench "$work/image.hex"
  expect_code user 0
  board 1-1 written
fi
end

# Without the rule the same user may not open the board: --list says why.
begin user_no_rule
"$guest" rule off
if plug --boards 1; then
  run norule --user bench --list
  expect_line norule "$(printf '1-1\t%s\t' "$(path_of 1-1)")"
  expect_line norule "no access: the udev rule 70-sorbel-bootloader.rules is missing (see the README)"
  run norule_write --user bench "$work/image.hex"
  expect_code norule_write 1
  expect_line norule_write "Error opening Sorbel device: Access to device denied"
  board 1-1 erased
fi
end

# The rule installed while the board is attached: the package's postinst
# reloads the rules and triggers a change event, which gives the node its
# group without a replug.
begin rule_reload
"$guest" rule on
node=$(path_of 1-1)
if [ -n "$node" ] && [ -e "$node" ]; then
  udevadm trigger --subsystem-match=hidraw --action=change
  udevadm settle -t 30
  [ "$(stat -c '%G %a' "$node")" = "plugdev 660" ] ||
    fail "after the change event $node is $(stat -c '%U:%G %a' "$node"), not group plugdev, mode 660"
  run reloaded --user bench --list
  expect_line reloaded "$(printf '1-1\t%s\tSorbel\tready' "$node")"
else
  fail "the board of user_no_rule is gone"
fi
end

# The adapter: its ids and pipes as the kernel enumerates them, and a
# register written and read back through usbfs (bulk out 1, bulk in 1).
begin adapter
if plug --boards 0 --adapter; then
  interface=/sys/bus/usb/devices/1-1/1-1:1.0
  [ "$(cat /sys/bus/usb/devices/1-1/idVendor):$(cat /sys/bus/usb/devices/1-1/idProduct)" = 1209:7a01 ] ||
    fail "the adapter's ids are not 1209:7a01"
  [ "$(cat "$interface/bInterfaceClass") $(cat "$interface/bNumEndpoints")" = "ff 02" ] ||
    fail "interface 0 is not of vendor class with two endpoints"
  answer=$(python3 tests/vm/adapter_roundtrip.py "/dev/bus/usb/$(printf '%03d/%03d' \
    "$(cat /sys/bus/usb/devices/1-1/busnum)" "$(cat /sys/bus/usb/devices/1-1/devnum)")" 2>&1)
  [ "$answer" = a5 ] || fail "data register written with a5 reads back as: $answer"
fi
end

# Two runs against one board at once: the second is refused by the lock on
# the opened device and writes nothing.
begin lock
if ! grep -qaF "is in use by another program" "$program"; then
  skip "this hex-upload takes no lock on the opened device (it has no \"is in use by another program\" message)"
elif plug --boards 1 --report-delay 100; then
  timeout 300 "$program" "$work/image.hex" > "$work/first.out" 2>&1 &
  first=$!
  started() { grep -q '^set' "$flash/1-1.log" 2>/dev/null; }
  wait_until 60 started || fail "the first run sent no block within 60 s"
  run second "$work/image.hex"
  expect_code second 1
  expect_line second "is in use by another program"
  [ "$(grep -c . "$work/second.out")" = 1 ] || fail "the second run printed more than one line"
  wait "$first"
  [ $? = 0 ] || fail "the first run failed: $(tail -n 3 "$work/first.out")"
  board 1-1 written
  [ "$(grep -c '^set 3 132 ' "$flash/1-1.log")" = 32 ] || fail "the board got other blocks than the 32 of one run"
fi
[ -e "$results/lock.result" ] || end

# --watch while boards are plugged in over time (usbip attach, each on the
# lowest free port): nothing is sent before a board appears; each board is
# written once and leaves the bus, which frees its port for the next; a
# board pulled out mid-write ends as failed and its port is taken again.
begin watch
if ! grep -qaF -- "--watch" "$program"; then
  skip "this hex-upload has no --watch"
elif plug --boards 4 --detached --fault 3:unplug=10; then
  timeout 600 "$program" --watch --count 4 --log "$work/watch.csv" "$work/image.hex" \
    > "$work/watch.out" 2> "$work/watch.err" &
  watcher=$!
  watching() { grep -q "^Watching for Sorbel devices" "$work/watch.out"; }
  wait_until 60 watching || fail "no watching line within 60 s"
  # attach K: board K plugged in (usbip attach, the lowest free port).
  attach() {
    "$guest" attach "$1" > /dev/null 2> "$work/attach.err" ||
      fail "board $1 could not be attached: $(cat "$work/attach.err")"
  }
  ends() { grep -cE "^[0-9:]{8} [^ ]+: (written|failed), " "$work/watch.out"; }
  ended() { [ "$(ends)" -ge "$1" ]; }
  attach 1
  wait_until 120 ended 1 || fail "board 1's end was not reported"
  # Two at once; board 3 is pulled out after 10 reports, and its attempts
  # look for it at its place until they give up.
  attach 2
  attach 3
  wait_until 300 ended 3 || fail "the ends of boards 2 and 3 were not reported"
  # A port that a board left is taken again.
  attach 4
  wait_until 300 eval '! kill -0 "$watcher" 2>/dev/null' || { fail "--watch --count 4 did not end"; kill "$watcher"; }
  wait "$watcher"
  echo $? > "$work/watch.code"
  note "--- hex-upload --watch --count 4 (exit $(cat "$work/watch.code"))"
  sed 's/^/  /' "$work/watch.out" "$work/watch.err" >> "$work/$case_name.notes"
  expect_code watch 1
  expect_line watch "3 written, 1 failed"
  for k in 1 2 4; do board "1-$k" written; done
  board 1-3 other
  [ "$(ends)" = 4 ] || fail "$(ends) ends reported, not 4"
  [ "$(grep -c ',written,' "$work/watch.csv")" = 3 ] && [ "$(grep -c ',failed,' "$work/watch.csv")" = 1 ] ||
    fail "the log holds other lines: $(cat "$work/watch.csv")"
  for k in 1 2 4; do
    [ "$(grep -c '^set 3 7 ' "$flash/1-$k.log")" = 1 ] || fail "board $k got $(grep -c '^set 3 7 ' "$flash/1-$k.log") closing reports"
  done
fi
[ -e "$results/watch.result" ] || end

"$guest" unplug > /dev/null 2>&1
echo "=== done (at $SECONDS s)"
! grep -qx FAIL "$results"/*.result
