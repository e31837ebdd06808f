# A data block fails once: the next attempt opens the device again and goes on
# from the start of the page holding the failed block (of the 128-byte unit
# for small pages); the flash still equals the image. Through Windows' HID
# stack the device sees exactly the reports that hex-upload-sim.exe, the same
# upload with the model in place of HID, gives its model.
. "$E2E_SRC/tests/e2e/sorbel/common.sh"
start_session

# page size | failing block | addresses sent, in order (hex, block-aligned)
cases=(
  "256 4 000000 000080 000100 000180 000100 000180 000200 000280 000300 000380 000400 000480 000500 000580"
  "64  4 000000 000080 000100 000180 000180 000200 000280 000300 000380 000400 000480 000500 000580"
)
for row in "${cases[@]}"; do
  read -r page failing expected <<<"$row"
  note "page size $page, block $failing fails"
  name="$SORBEL_DIR/resume-$page"
  make_hex "$name.hex" "$name.image" 8192 0 0x600 "$failing"
  ctl config "$page" 8192
  ctl fail-block "$failing"
  upload "$name.hex"
  expect_equal "exit code" 0 "$UPLOAD_RC"
  expect_contains "block error" " Error uploading data block: Communication error with device" "$UPLOAD_OUT"
  expect_contains "success line" "The firmware is written successfully after 1 retries." "$UPLOAD_OUT"
  expect_equal "device info lines" 1 "$(grep -c '^Page size' <<<"$UPLOAD_OUT")"
  fetch_flash "$name.flash"
  cmp "$name.image" "$name.flash" || fail "flash differs from the image after the resume (page size $page)"
  fetch_log "$name.log"
  expect_equal "device info reads" 2 "$(grep -c '^get 3 7 ' "$name.log")"
  expect_equal "blocks sent" "$expected" "$(block_addresses "$name.log" | tr '\n' ' ' | sed 's/ $//')"
  last=$(grep '^set 3 132 ' "$name.log" | tail -n 1 | cut -d' ' -f5-10)
  expect_equal "closing report" "set 3 7 01 $last" "$(tail -n 1 "$name.log")"
  sim_out=$(cd "$E2E_BIN" && env SORBEL_SIM_PAGE_SIZE="$page" SORBEL_SIM_FLASH_SIZE=8192 \
              SORBEL_SIM_FAIL_BLOCK="$failing" SORBEL_SIM_LOG="$(win_path "$name.sim-log")" \
              timeout --kill-after=5 120 wine hex-upload-sim.exe "$(win_path "$name.hex")" | tr -d '\r')
  expect_equal "output as with hex-upload-sim" "$sim_out" "$UPLOAD_OUT"
  cmp "$name.sim-log" "$name.log" || fail "the device saw other reports than the model under hex-upload-sim"
  ctl reset
done
