#!/usr/bin/env bash
# The Linux hex-upload with several simulated bootloaders preloaded (at
# 9-1.1 to 9-1.3, beside a device of another product string at 9-3 and one
# that refuses to be opened at 9-4): --list, -d and --all.
#   hidraw-several.sh <hex-upload> <libsorbel-hidraw-sim.so> <hex-upload-sim>
set -euo pipefail
program=$1 library=$2 sim=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

preload=$library
asan=$(ldd "$program" | awk '/libasan\.so/ { print $3 }')
[ -z "$asan" ] || preload="$asan:$library"

head -c 3000 /dev/urandom > "$work/image.bin"
objcopy -I binary -O ihex "$work/image.bin" "$work/image.hex"
erased() { head -c "$1" /dev/zero | tr '\0' '\377'; }
{ cat "$work/image.bin"; erased $((32768 - 3000)); } > "$work/written.bin"
erased 32768 > "$work/erased.bin"

# run <name> <settings...> -- <arguments...>: output, exit code, each board's flash and log.
run() {
  local name=$1
  shift
  local settings=()
  while [ "$1" != -- ]; do settings+=("$1"); shift; done
  shift
  set +e
  # The preload goes to the program alone, not to timeout.
  timeout 120 env SORBEL_SIM_DEVICES=3 SORBEL_SIM_EXTRA=Other SORBEL_SIM_LOCKED=1 "${settings[@]}" \
    SORBEL_SIM_LOG="$work/$name.log" SORBEL_SIM_FLASH_OUT="$work/$name.flash" LD_PRELOAD="$preload" \
    "$program" "$@" > "$work/$name.out" 2> "$work/$name.err"
  echo $? > "$work/$name.code"
  set -e
  [ ! -s "$work/$name.err" ] || fail "$name: $(cat "$work/$name.err")"
}
expect_code() { [ "$(cat "$work/$1.code")" = "$2" ] || fail "$1: exit code $(cat "$work/$1.code"), not $2"; }
# boards <name> <state of 9-1.1> <of 9-1.2> <of 9-1.3>: written, erased (and sent nothing), or other
boards() {
  local name=$1 k=1 state
  shift
  for state in "$@"; do
    case $state in
      written) cmp -s "$work/written.bin" "$work/$name.flash.$k" || fail "$name: 9-1.$k not written" ;;
      erased)
        cmp -s "$work/erased.bin" "$work/$name.flash.$k" || fail "$name: 9-1.$k not erased"
        [ ! -s "$work/$name.log.$k" ] || fail "$name: reports sent to 9-1.$k" ;;
      *) ! cmp -s "$work/written.bin" "$work/$name.flash.$k" || fail "$name: 9-1.$k written" ;;
    esac
    k=$((k + 1))
  done
}

# --list: the columns, nothing sent.
run list -- --list
expect_code list 0
printf '%s\t%s\t%s\t%s\n' \
  9-3 /dev/hidraw100 Other "other product" \
  9-1.1 /dev/hidraw101 Sorbel ready \
  9-1.2 /dev/hidraw102 Sorbel ready \
  9-1.3 /dev/hidraw103 Sorbel ready \
  9-4 /dev/hidraw104 Sorbel "no access: the udev rule 70-sorbel-bootloader.rules is missing (see the README)" \
  > "$work/list.expected"
cmp -s "$work/list.expected" "$work/list.out" || fail "list: $(cat "$work/list.out")"
boards list erased erased erased

# -d: the chosen board written exactly as hex-upload-sim writes it, the others untouched.
run chosen -- -d 9-1.2 "$work/image.hex"
expect_code chosen 0
boards chosen erased written erased
env SORBEL_SIM_DEVICES=3 SORBEL_SIM_EXTRA=Other SORBEL_SIM_LOG="$work/sim.log" \
  "$sim" -d 9-1.2 "$work/image.hex" > "$work/sim.out"
cmp -s "$work/sim.out" "$work/chosen.out" || fail "chosen: output differs from hex-upload-sim's"
cmp -s "$work/sim.log.2" "$work/chosen.log.2" || fail "chosen: report log differs from hex-upload-sim's"

# -d at a place where no bootloader sits: the lines of a missing device.
run nowhere -- -d 9-1.7 "$work/image.hex"
expect_code nowhere 1
[ "$(grep -cx 'Error opening Sorbel device: The specified device was not found' "$work/nowhere.out")" = 10 ] ||
  fail "nowhere: $(cat "$work/nowhere.out")"
boards nowhere erased erased erased
[ "$(tail -n 1 "$work/nowhere.out")" = "No Sorbel device is at 9-1.7; attached: 9-1.1, 9-1.2, 9-1.3, 9-4" ] ||
  fail "nowhere: last line $(tail -n 1 "$work/nowhere.out")"

# A place as a user may give it: from a list saved with CR line ends, with
# the interface, as its sysfs path; with -w too, which must not wait.
for place in '9-1.2 ' $'9-1.2\r' 9-1.2:1.0 /sys/bus/usb/devices/9-1.2; do
  for wait in "" -w; do
    run typed -- $wait -d "$place" "$work/image.hex"
    expect_code typed 0
    boards typed erased written erased
  done
done

# Without -d, the first board pulled out after 10 blocks and another plugged
# into its port three searches later: that one gets the whole image, from
# its first block; no other board gets any of it.
run moved SORBEL_SIM_UNPLUG_AFTER_1=10 SORBEL_SIM_REPLUG_AFTER_1=3 -- "$work/image.hex"
expect_code moved 0
boards moved written erased erased

# --all: a failed block on 9-1.2 resumes, 9-1.3 is pulled out midway, the
# locked one cannot be opened; the others are written, and the summary names each.
run all SORBEL_SIM_FAIL_BLOCK_2=5 SORBEL_SIM_UNPLUG_AFTER_3=6 -- --all "$work/image.hex"
expect_code all 1
boards all written written other
tail -n 5 "$work/all.out" > "$work/summary"
printf '%s\n' "Summary: 2 of 4 written" "9-1.1: written" "9-1.2: written" \
  "9-1.3: Error opening Sorbel device: The specified device was not found" \
  "9-4: Error opening Sorbel device: Access to device denied" > "$work/summary.expected"
cmp -s "$work/summary.expected" "$work/summary" || fail "all: summary $(cat "$work/summary")"
grep -qx '9-1.2: The firmware is written successfully after 1 retries.' "$work/all.out" || fail "all: 9-1.2 did not resume"
[ "$(head -n -5 "$work/all.out" | tail -n +2 | grep -cv '^9-[0-9.]*: ')" = 0 ] || fail "all: a line without its place"
[ "$(grep -c '^9-1.1: .*% written' "$work/all.out")" = 10 ] || fail "all: not one progress line per tenth"

# Bad options: the usage line, nothing else.
for arguments in "-d" "-d '' x.hex" "--all -d 9-1.1 x.hex" "--all -w x.hex" "--bogus x.hex"; do
  eval "run bad -- $arguments"
  expect_code bad 1
  [ "$(cat "$work/bad.out")" = "usage: $program [-r] <intel-hexfile>" ] || fail "bad ($arguments): $(cat "$work/bad.out")"
done

[ "$failures" = 0 ] || exit 1
echo "hex-upload with several simulated hidraw devices: ok"
