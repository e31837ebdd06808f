#!/usr/bin/env bash
# hex-upload-sim on Linux: a multi-page file ends up in the simulated flash.
#   native-sim.sh <hex-upload-sim>
set -euo pipefail
sim=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# 3000 random bytes from 0x0105 on: pages of 256 make it 0x0100..0x0D00.
head -c 3000 /dev/urandom > "$work/image.bin"
objcopy -I binary -O ihex --change-addresses 0x105 "$work/image.bin" "$work/image.hex"

# The expected flash: erased, with the image at 0x105.
expected_flash() {
  local size=$1
  { head -c 261 /dev/zero | tr '\0' '\377'; cat "$work/image.bin";
    head -c $((size - 261 - 3000)) /dev/zero | tr '\0' '\377'; } > "$work/expected.bin"
}

# 1. A clean upload.
out=$(SORBEL_SIM_PAGE_SIZE=256 SORBEL_SIM_FLASH_SIZE=16384 SORBEL_SIM_LOG="$work/log" \
      SORBEL_SIM_FLASH_OUT="$work/flash.bin" "$sim" "$work/image.hex") || fail "upload exit code $?"
expected_flash 16384
cmp "$work/expected.bin" "$work/flash.bin" || fail "flash differs from the image"
grep -qx 'Uploading 3072 (0xc00) bytes starting at 256 (0x100)' <<<"$out" || fail "no Uploading line: $out"
grep -q 'The firmware is written successfully after 0 retries.' <<<"$out" || fail "no success line"
[ "$(grep -c '^set 3 132 02 ' "$work/log")" = 24 ] || fail "expected 24 data blocks"
tail -n 1 "$work/log" | grep -q '^set 3 7 01 80 0C 00 ' || fail "closing report: $(tail -n 1 "$work/log")"

# 2. A block fails once: the upload resumes at its page, the flash is the same.
out=$(SORBEL_SIM_PAGE_SIZE=256 SORBEL_SIM_FLASH_SIZE=16384 SORBEL_SIM_FAIL_BLOCK=6 \
      SORBEL_SIM_FLASH_OUT="$work/flash.bin" "$sim" -r "$work/image.hex") || fail "retry exit code $?"
cmp "$work/expected.bin" "$work/flash.bin" || fail "flash differs after a retry"
grep -q 'Error uploading data block: Communication error with device' <<<"$out" || fail "no block error"
grep -q 'after 1 retries' <<<"$out" || fail "no retry"

# 3. No device: ten open errors, exit code 1, the flash untouched.
set +e
out=$(SORBEL_SIM_ABSENT=1 SORBEL_SIM_FLASH_OUT="$work/flash.bin" "$sim" "$work/image.hex")
code=$?
set -e
[ "$code" = 1 ] || fail "absent device: exit code $code"
[ "$(grep -cx 'Error opening Sorbel device: The specified device was not found' <<<"$out")" = 10 ] ||
  fail "absent device: $out"
[ "$(tr -d '\377' < "$work/flash.bin" | wc -c)" = 0 ] || fail "flash written without a device"
# 4. -w: the device turns up at the fourth search, after three pauses of 250 ms.
start=$(date +%s%N)
out=$(SORBEL_SIM_APPEAR_AFTER=3 SORBEL_SIM_FLASH_OUT="$work/flash.bin" "$sim" -w "$work/image.hex") ||
  fail "-w: exit code $?"
[ $(( ($(date +%s%N) - start) / 1000000 )) -ge 750 ] || fail "-w: did not pause between searches"
[ "$(head -n 1 <<<"$out")" = "Waiting for the Sorbel device (press Ctrl+C to stop) ..." ] ||
  fail "-w: $out"
grep -q 'after 0 retries' <<<"$out" || fail "-w: no success line: $out"
echo "native hex-upload-sim: ok"
