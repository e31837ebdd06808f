# hex-upload-sim.exe: a multi-page file ends up in the simulated flash, also
# when a block fails once and the upload resumes at its page.
cd "$E2E_BIN"
work="$E2E_STATE/upload-sim"
mkdir -p "$work"

# 5000 random bytes from 0x0105 on; pages of 256 make it 0x0100..0x1500.
head -c 5000 /dev/urandom > "$work/image.bin"
objcopy -I binary -O ihex --change-addresses 0x105 "$work/image.bin" "$work/image.hex"
{ head -c 261 /dev/zero | tr '\0' '\377'; cat "$work/image.bin";
  head -c $((16384 - 261 - 5000)) /dev/zero | tr '\0' '\377'; } > "$work/expected.bin"

# sim [VAR=value...]: runs hex-upload-sim.exe on the file; sets OUT and RC.
sim() {
  rm -f "$work/flash.bin" "$work/log"
  RC=0
  OUT=$(env SORBEL_SIM_PAGE_SIZE=256 SORBEL_SIM_FLASH_SIZE=16384 \
            SORBEL_SIM_FLASH_OUT="$(win_path "$work/flash.bin")" SORBEL_SIM_LOG="$(win_path "$work/log")" "$@" \
            timeout --kill-after=5 120 wine hex-upload-sim.exe "$(win_path "$work/image.hex")" | tr -d '\r') || RC=$?
}

sim
expect_equal "exit code" 0 "$RC"
expect_contains "sizes" "Page size   = 256 (0x100)"$'\n'"Device size = 16384 (0x4000); 14336 bytes remaining" "$OUT"
expect_contains "upload range" "Uploading 5120 (0x1400) bytes starting at 256 (0x100)" "$OUT"
expect_contains "success" "The firmware is written successfully after 0 retries." "$OUT"
cmp "$work/expected.bin" "$work/flash.bin" || fail "flash differs from the image"
expect_equal "data blocks" 40 "$(grep -c '^set 3 132 02 ' "$work/log")"
expect_equal "info report" "get 3 7 01 00 01 00 40 00 00" "$(head -n 1 "$work/log")"
[[ "$(tail -n 1 "$work/log")" == "set 3 7 01 80 14 00 "* ]] || fail "closing report: $(tail -n 1 "$work/log")"

sim SORBEL_SIM_FAIL_BLOCK=4
expect_equal "exit code after a failed block" 0 "$RC"
expect_contains "block error" " Error uploading data block: Communication error with device" "$OUT"
expect_contains "retry" "The firmware is written successfully after 1 retries." "$OUT"
cmp "$work/expected.bin" "$work/flash.bin" || fail "flash differs from the image after a retry"
# The failed block (0x0280) sends its whole page (0x0200) again.
expect_equal "blocks sent" 42 "$(grep -c '^set 3 132 02 ' "$work/log")"

sim SORBEL_SIM_ABSENT=1
expect_equal "exit code without a device" 1 "$RC"
expect_equal "open failures" 10 "$(grep -c '^Error opening Sorbel device: The specified device was not found$' <<<"$OUT")"
