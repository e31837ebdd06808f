#!/usr/bin/env bash
# The unchanged Linux hex-upload with libsorbel-hidraw-sim.so preloaded: the
# simulated bootloader appears as a hidraw device. Where the
# simulated device behaves as hex-upload-sim's does, output, report log and
# flash must be the same as hex-upload-sim's.
#   hidraw-sim.sh <hex-upload> <libsorbel-hidraw-sim.so> <hex-upload-sim> [<emulator> [<argument>...]]
# A program of another architecture runs under qemu's user-mode emulator
# (for example qemu-aarch64 -L /), which sets the preload in the emulated
# program's environment only; hex-upload-sim is always the machine's own.
set -euo pipefail
program=$1 library=$2 sim=$3
emulator=("${@:4}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# A sanitizer build needs its runtime first in the list of preloaded libraries.
preload=$library
if [ "${#emulator[@]}" = 0 ]; then
  asan=$(ldd "$program" | awk '/libasan\.so/ { print $3 }')
  [ -z "$asan" ] || preload="$asan:$library"
  launch=(env LD_PRELOAD="$preload" "$program")
else
  launch=("${emulator[@]}" -E LD_PRELOAD="$preload" "$program")
fi

# 3000 random bytes from 0x0105 on, and the flash that must hold them.
head -c 3000 /dev/urandom > "$work/image.bin"
objcopy -I binary -O ihex --change-addresses 0x105 "$work/image.bin" "$work/image.hex"
erased() { head -c "$1" /dev/zero | tr '\0' '\377'; }
{ erased 261; cat "$work/image.bin"; erased $((32768 - 261 - 3000)); } > "$work/written.bin"
erased 32768 > "$work/erased.bin"

faults=silent,vanishing,not-hidraw
# name | settings | arguments | exit code | a line of the output | how often | flash |
# the same output and report log as hex-upload-sim | the library's complaint, if any
cases=(
  "page 64|SORBEL_SIM_PAGE_SIZE=64||0|The firmware is written successfully after 0 retries.|1|written|yes"
  "page 128|SORBEL_SIM_PAGE_SIZE=128||0|Uploading 3072 (0xc00) bytes starting at 256 (0x100)|1|written|yes"
  "page 256|SORBEL_SIM_PAGE_SIZE=256||0|Uploading 3072 (0xc00) bytes starting at 256 (0x100)|1|written|yes"
  "failing block|SORBEL_SIM_PAGE_SIZE=256 SORBEL_SIM_FAIL_BLOCK=6|-r|0|The firmware is written successfully after 1 retries.|1|written|yes"
  "extra device|SORBEL_SIM_EXTRA=sorbel||0|The firmware is written successfully after 0 retries.|1|written|yes"
  "bad setting|SORBEL_SIM_PAGE_SIZE=64k||0|Page size   = 128 (0x80)|1|written|yes|libsorbel-hidraw-sim: ignoring SORBEL_SIM_PAGE_SIZE=64k"
  "absent|SORBEL_SIM_ABSENT=1 SORBEL_SIM_EXTRA=Sorbel2||1|Error opening Sorbel device: The specified device was not found|10|erased|no"
  "access denied|SORBEL_SIM_DENY=1||1|Error opening Sorbel device: Access to device denied|10|erased|no"
  "wait, access denied|SORBEL_SIM_DENY=1|-w|1|Error opening Sorbel device: Access to device denied|10|erased|no"
  # Nodes listed as the bootloader that fail once open are passed over.
  "faults|SORBEL_SIM_FAULTS=$faults||0|The firmware is written successfully after 0 retries.|1|written|yes"
  "wait, faults|SORBEL_SIM_FAULTS=$faults|-w|0|The firmware is written successfully after 0 retries.|1|written|yes"
  "faults alone|SORBEL_SIM_ABSENT=1 SORBEL_SIM_FAULTS=$faults||1|Error opening Sorbel device: The specified device was not found|10|erased|no"
  # hidraw tells how many bytes the device sent: a short info report is refused.
  "short info report|SORBEL_SIM_INFO_LENGTH=3||1|Not enough bytes in device info report (3 instead of 7)|10|erased|yes"
  # Pulled out after 10 blocks, another board at its place two searches
  # later: written whole, from the first block.
  "board replaced|SORBEL_SIM_UNPLUG_AFTER=10 SORBEL_SIM_REPLUG_AFTER=3||0|The firmware is written successfully after 2 retries.|1|written|yes"
  # A keyboard beside the bootloader is never opened (the library complains if it is).
  "keyboard beside|SORBEL_SIM_KEYBOARD=1||0|The firmware is written successfully after 0 retries.|1|written|yes"
  "wait, keyboard beside|SORBEL_SIM_KEYBOARD=1|-w|0|The firmware is written successfully after 0 retries.|1|written|yes"
  "keyboard alone|SORBEL_SIM_KEYBOARD=1 SORBEL_SIM_ABSENT=1||1|Error opening Sorbel device: The specified device was not found|10|erased|no"
)

for row in "${cases[@]}"; do
  IFS='|' read -r name settings arguments code line count flash same complaint <<<"$row"
  read -ra settings <<<"$settings"
  read -ra arguments <<<"$arguments"
  run() {  # <output prefix> <command...>
    local out=$1
    shift
    set +e
    env "${settings[@]}" SORBEL_SIM_LOG="$work/$out.log" SORBEL_SIM_FLASH_OUT="$work/$out.flash" \
      "$@" "${arguments[@]}" "$work/image.hex" > "$work/$out.out" 2> "$work/$out.err"
    echo $? > "$work/$out.code"
    set -e
  }
  # A wait that does not end by itself shows as exit code 124.
  run hidraw timeout 30 "${launch[@]}"
  [ "$(cat "$work/hidraw.code")" = "$code" ] || fail "$name: exit code $(cat "$work/hidraw.code")"
  [ "$(cat "$work/hidraw.err")" = "$complaint" ] || fail "$name: $(cat "$work/hidraw.err")"
  seen=$(tr '\r' '\n' < "$work/hidraw.out" | grep -cxF "$line" || true)
  [ "$seen" = "$count" ] || fail "$name: \"$line\" $seen times, not $count: $(cat "$work/hidraw.out")"
  cmp -s "$work/$flash.bin" "$work/hidraw.flash" || fail "$name: the flash is not $flash"
  if [ "$same" = yes ]; then
    run sim "$sim"
    cmp -s "$work/sim.out" "$work/hidraw.out" || fail "$name: output differs from hex-upload-sim's"
    cmp -s "$work/sim.log" "$work/hidraw.log" || fail "$name: report log differs from hex-upload-sim's"
  else
    [ ! -s "$work/hidraw.log" ] || fail "$name: reports exchanged: $(head -n 3 "$work/hidraw.log")"
  fi
done

# Two writers for one board: the second ends at once with one line, and
# sends nothing; the first writes the board. The lock files stand for the
# kernel's lock on the device node, shared by the two processes.
mkdir "$work/locks"
writer() {  # <name> <arguments...>
  local name=$1
  shift
  env SORBEL_SIM_LOCK_DIR="$work/locks" SORBEL_SIM_REPORT_DELAY=300 SORBEL_SIM_LOG="$work/$name.log" \
    SORBEL_SIM_FLASH_OUT="$work/$name.flash" timeout 60 "${launch[@]}" "$@" "$work/image.hex" \
    > "$work/$name.out" 2> "$work/$name.err"
}
writer first &
first=$!
for _ in $(seq 200); do
  grep -q '^set 3 132 ' "$work/first.log" 2> /dev/null && break
  sleep 0.05
done
grep -q '^set 3 132 ' "$work/first.log" || fail "two writers: the first wrote nothing within 10 s"
code=0
writer second -d 9-1.1 || code=$?
first_code=0
wait "$first" || first_code=$?
[ "$code" = 1 ] || fail "two writers: the second's exit code $code"
[ "$(cat "$work/second.out")" = "The Sorbel device at 9-1.1 is in use by another program" ] ||
  fail "two writers: the second said $(cat "$work/second.out")"
[ ! -s "$work/second.log" ] || fail "two writers: the second sent $(head -n 1 "$work/second.log")"
[ "$first_code" = 0 ] || fail "two writers: the first's exit code $first_code: $(cat "$work/first.out")"
cmp -s "$work/written.bin" "$work/first.flash" || fail "two writers: the first did not write the board"
cat "$work/first.err" "$work/second.err" >&2

[ "$failures" = 0 ] || exit 1
echo "hex-upload with simulated hidraw devices: ${#cases[@]} cases and two writers ok"
