#!/usr/bin/env bash
# hex-upload.exe under Wine's own HID stack on the real kernel, inside
# scripts/vm-run's VM: the simulated bootloaders sit on USB ports of
# vhci-hcd, usbhid and hidraw carry the reports, systemd-udevd applies the
# project's rule, and Wine's winebus reads them over hidraw, its class driver
# and hid.dll hand them to the program. No driver of ours is in the prefix,
# made fresh for this boot (outside the VM, where wineboot takes a tenth of
# the time) and copied into the VM's /tmp for the user bench (group plugdev,
# no seat). One boot runs every case; each writes RESULTS/<case>.result (PASS,
# FAIL or SKIP on its first line, then what it saw), which the ctest tests
# vm_wine.<case> read.
#   cases.sh <hex-upload.exe> <wine loader> <prefix> <results dir>
set -uo pipefail
program=$1 loader=$2 template=$3 results=$4
guest=scripts/vm/guest
flash=build/vm/flash
user=bench
work=$(mktemp -d)
chmod 755 "$work"  # bench reads the HEX file and writes the traces
trap 'rm -rf "$work"' EXIT
mkdir -p "$results"
rm -f "$results"/*.result
prefix=/tmp/wine-$user

# shellcheck source=tests/vm/case-lib.sh
source tests/vm/case-lib.sh

# as_bench [--trace CHANNELS] COMMAND...: a command as bench, in the prefix.
as_bench() {
  local channels=-all
  if [ "$1" = --trace ]; then
    channels=$2
    shift 2
  fi
  "$guest" as-user "$user" env WINEPREFIX="$prefix" WINELOADER="$loader" WINEDEBUG="$channels" \
    WINEDLLOVERRIDES="mscoree=d;mshtml=d;winemenubuilder.exe=d" LANG=C.UTF-8 LC_ALL=C.UTF-8 "$@"
}

plug() {
  "$guest" plug "$@" > "$work/places" 2> "$work/plug.err" || {
    fail "the devices could not be attached: $(cat "$work/plug.err")"
    return 1
  }
}

# run NAME [--trace CHANNELS] ARGS...: hex-upload.exe as bench; its output
# in $work/NAME.txt, Wine's messages (and the trace) in $work/NAME.err, the
# exit code in $work/NAME.code.
run() {
  local name=$1
  shift
  local -a trace=()
  if [ "$1" = --trace ]; then
    trace=(--trace "$2")
    shift 2
  fi
  as_bench "${trace[@]}" timeout 300 "$loader" "$program" "$@" > "$work/$name.out" 2> "$work/$name.err"
  echo $? > "$work/$name.code"
  tr -d '\r' < "$work/$name.out" > "$work/$name.txt"
  note "--- hex-upload.exe $* (exit $(cat "$work/$name.code"))"
  sed 's/^/  /' "$work/$name.txt" >> "$work/$case_name.notes"
}
expect_code() { [ "$(cat "$work/$1.code")" = "$2" ] || fail "$1: exit code $(cat "$work/$1.code"), not $2"; }
expect_line() { grep -qF -- "$2" "$work/$1.txt" || fail "$1: no line with \"$2\""; }
# The listed boards, ready to be written: "place path" per line.
ready_boards() { awk -F '\t' '$3 == "Sorbel" && $4 == "ready" { print $1, $2 }' "$work/$1.txt"; }
board() {
  case $2 in
  written) cmp -s "$work/written.bin" "$flash/$1.bin" || fail "$1 does not hold the image" ;;
  erased) cmp -s "$work/erased.bin" "$flash/$1.bin" || fail "$1 is not erased" ;;
  other) ! cmp -s "$work/written.bin" "$flash/$1.bin" || fail "$1 holds the whole image" ;;
  esac
}
gone() { [ ! -e "/sys/bus/usb/devices/$1" ]; }
# The reports a plain run sends, as the device logs them: the info report
# read, the 32 blocks of the image, then the closing report at its own 7
# bytes, id 1 and what the last block left in bytes 1 to 6.
expect_reports() {
  local log=$flash/$1.log
  [ "$(grep -c '^get 3 ' "$log")" -ge 1 ] || fail "$1: the device info report was never read"
  [ "$(grep -c '^set 3 132 02 ' "$log")" = 32 ] || fail "$1: $(grep -c '^set 3 132 02 ' "$log") blocks, not 32"
  local last
  last=$(grep '^set 3 132 ' "$log" | tail -n 1 | cut -d' ' -f5-10)
  [ "$(tail -n 1 "$log")" = "set 3 7 01 $last" ] ||
    fail "$1: the last report is not the 7-byte closing report: $(tail -n 1 "$log" | cut -c 1-60)"
  ! grep -v -e '^get 3 ' -e '^set 3 132 02 ' -e '^set 3 7 01 ' "$log" | grep -q . ||
    fail "$1: other reports reached the device: $(grep -v -e '^get 3 ' -e '^set 3 132 02 ' -e '^set 3 7 01 ' "$log" | head -n 2 | cut -c 1-60)"
}

python3 tests/e2e/sorbel/make_hex.py "$work/image.hex" "$work/written.bin" 32768 0 4096 33
head -c 32768 /dev/zero | tr '\0' '\377' > "$work/erased.bin"
image=""

# Wine's system processes (services, winebus in its driver host) anew
# under one persistent wineserver: a server that ends by itself after its
# last client races the next program.
start_wine() {
  as_bench wineserver -p >> "$work/wine.log" 2>&1
  as_bench timeout 300 "$loader" wineboot >> "$work/wine.log" 2>&1
}
stop_wine() {
  as_bench wineserver -k > /dev/null 2>&1
  as_bench timeout 60 wineserver -w
}

# The fresh prefix made for this boot, no driver of ours in it, as bench's
# own. The board of the boot is attached before Wine starts.
begin prefix
"$guest" as-user "$user" true
if cp -a "$template" "$prefix" && chown -R "$user:users" "$prefix"; then
  ! grep -qil sorbel "$prefix"/*.reg || fail "the prefix names a driver of ours"
  [ -z "$(find "$prefix/drive_c" -iname 'sorbel*' -print -quit)" ] || fail "the prefix holds a file of ours"
  start_wine || fail "Wine's services did not start: $(tail -n 5 "$work/wine.log")"
  image=$(as_bench "$loader" winepath -w "$work/image.hex" 2> /dev/null | tr -d '\r')
  [ -n "$image" ] || fail "winepath gives no name for the HEX file"
else
  fail "the prefix $template could not be copied for $user"
fi
end
if [ "$case_failed" = 1 ]; then
  for name in sdl_default list one_board padded_closing plugged_later pulled_out no_rule; do
    printf 'FAIL\nno Wine prefix (see the case prefix)\n' > "$results/$name.result"
  done
  exit 1
fi

# With Wine's default settings winebus runs its SDL backend alone, even
# where libSDL2 is missing, and never reads hidraw: no board.
begin sdl_default
run default --list
expect_code default 1
expect_line default "No Sorbel device is attached."
end

# The setting that lets winebus read hidraw through udev, and Wine started
# again to take it.
as_bench "$loader" reg add 'HKLM\System\CurrentControlSet\Services\winebus' /v "Enable SDL" \
  /t REG_DWORD /d 0 /f >> "$work/wine.log" 2>&1
stop_wine
start_wine

# --list shows the board that was attached before Wine started.
begin list
run list --list
expect_code list 0
[ "$(ready_boards list | wc -l)" = 1 ] || fail "--list shows $(ready_boards list | wc -l) boards ready, not 1"
end

# A plain run writes it byte for byte; the closing report reaches it and
# the board leaves the bus.
begin one_board
run one --trace +hid "$image"
expect_code one 0
expect_line one "The firmware is written successfully after 0 retries."
board 1-1 written
expect_reports 1-1
wait_until 10 gone 1-1 || fail "the board did not leave the bus after the closing report"
# What hid.dll was asked for the closing report: the 7 bytes alone, or
# refused and sent again with the collection's 132.
grep 'HidD_SetFeature' "$work/one.err" | tail -n 2 | sed 's/^/  trace: /' >> "$work/$case_name.notes"
# Wine's class driver takes the 7 bytes, shorter than the collection's 132,
# where Windows refuses them (the README's known differences).
[ "$(grep 'HidD_SetFeature' "$work/one.err" | tail -n 1 | grep -o 'report_len [0-9]*')" = "report_len 7" ] ||
  fail "the 7-byte closing report was refused and sent again"
end

# The closing report stalls once on the wire: the program sends it again
# padded to the collection's 132 bytes, as Windows needs it, and the device
# gets it at its id's 7 bytes and leaves the bus.
begin padded_closing
if plug --boards 1 --fault 1:stall=close@1; then
  run padded --trace +hid "$image"
  expect_code padded 0
  board 1-1 written
  expect_reports 1-1
  [ "$(grep -c 'HidD_SetFeature.*report_len 7\.' "$work/padded.err")" = 1 ] ||
    fail "the 7-byte closing report was not sent once"
  [ "$(grep 'HidD_SetFeature' "$work/padded.err" | tail -n 1 | grep -o 'report_len [0-9]*')" = "report_len 132" ] ||
    fail "the last report sent was not the padded closing report"
  wait_until 10 gone 1-1 || fail "the board did not leave the bus after the padded closing report"
  grep 'HidD_SetFeature' "$work/padded.err" | tail -n 2 | sed 's/^/  trace: /' >> "$work/$case_name.notes"
fi
end

# Two boards plugged in while Wine runs: winebus takes them from udev's
# events; --list shows both, --all writes both.
begin plugged_later
if plug --boards 2; then
  run later_list --list
  expect_code later_list 0
  [ "$(ready_boards later_list | wc -l)" = 2 ] ||
    fail "--list shows $(ready_boards later_list | wc -l) boards ready, not 2"
  run later_all --all "$image"
  expect_code later_all 0
  expect_line later_all "Summary: 2 of 2 written"
  for place in 1-1 1-2; do
    board "$place" written
    expect_reports "$place"
  done
fi
end

# Pulled out after 10 of 32 blocks: the attempts say so, exit 1.
begin pulled_out
if plug --boards 1 --fault 1:unplug=10; then
  run pulled "$image"
  expect_code pulled 1
  expect_line pulled " Error uploading data block: "
  expect_line pulled "Error opening Sorbel device: The specified device was not found"
  board 1-1 other
fi
end

# Without the rule bench may not open the hidraw node, and winebus, running
# as bench, cannot either: Wine then has no such device at all.
begin no_rule
"$guest" rule off
if plug --boards 1; then
  run norule --list
  [ "$(ready_boards norule | wc -l)" = 0 ] || fail "--list shows a board that bench cannot open"
  run norule_write "$image"
  expect_code norule_write 1
  board 1-1 erased
fi
"$guest" rule on
end

stop_wine
"$guest" unplug > /dev/null 2>&1
echo "=== done (at $SECONDS s)"
! grep -qx FAIL "$results"/*.result
