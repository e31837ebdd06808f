# hex-upload.exe writes multi-page files through the Windows HID functions into
# the simulated bootloader, for page sizes 64, 128 and 256: the flash equals
# the image, the blocks cover the data rounded to the rounding unit, and the
# closing report carries the last block's address and first data bytes; with
# the length of feature reports checked as Windows does, the closing report
# still reaches the device.
. "$E2E_SRC/tests/e2e/sorbel/common.sh"
start_session

# page size | flash size | data start | data length | blocks | first block
cases=(
  "64  8192 0x0105 0x112F 35 000100"
  "128 8192 0x0105 0x112F 35 000100"
  "256 8192 0x0105 0x112F 36 000100"
  "128 4096 0x0000 0x0800 16 000000"
)
for row in "${cases[@]}"; do
  read -r page flash start length blocks first <<<"$row"
  note "page size $page, flash $flash, data $start+$length"
  name="$SORBEL_DIR/upload-$page-$flash-$start"
  make_hex "$name.hex" "$name.image" "$flash" "$start" "$length" "$page"
  ctl config "$page" "$flash"
  upload "$name.hex"
  expect_equal "exit code" 0 "$UPLOAD_RC"
  expect_contains "page size line" "Page size   = $page (0x$(printf %x "$page"))" "$UPLOAD_OUT"
  expect_contains "device size line" "Device size = $flash (0x$(printf %x "$flash")); $((flash - 2048)) bytes remaining" "$UPLOAD_OUT"
  expect_contains "success line" "The firmware is written successfully after 0 retries." "$UPLOAD_OUT"
  fetch_flash "$name.flash"
  cmp "$name.image" "$name.flash" || fail "flash differs from the image (page size $page)"
  fetch_log "$name.log"
  expect_equal "device info reads" 1 "$(grep -c '^get 3 7 01 ' "$name.log")"
  expect_equal "data blocks" "$blocks" "$(block_addresses "$name.log" | wc -l)"
  expect_equal "first block" "$first" "$(block_addresses "$name.log" | head -n 1)"
  # Closing report: id 1, then the last block's address and its first three
  # data bytes, as the block report left them in the buffer.
  last=$(grep '^set 3 132 ' "$name.log" | tail -n 1 | cut -d' ' -f5-10)
  expect_equal "closing report" "set 3 7 01 $last" "$(tail -n 1 "$name.log")"
  expect_equal "refused reports" 0 "$(grep -c '^refused' "$name.log")"
  expect_contains "bootloader left" "bootloader left" "$(ctl state)"
  ctl reset
done

# Strict length, as Windows has it: a feature report buffer must have the
# collection's 132 bytes. The 7-byte closing report is refused and goes again
# padded with zeros; hidclass hands the device report 1 at its declared 7
# bytes, so the device leaves the bootloader.
note "strict length"
name="$SORBEL_DIR/upload-strict"
make_hex "$name.hex" "$name.image" 8192 0x0105 0x112F
ctl config 128 8192
ctl strict-length on
upload "$name.hex"
expect_equal "exit code" 0 "$UPLOAD_RC"
expect_contains "success line" "The firmware is written successfully after 0 retries." "$UPLOAD_OUT"
fetch_flash "$name.flash"
cmp "$name.image" "$name.flash" || fail "flash differs from the image (strict length)"
fetch_log "$name.log"
last=$(grep '^set 3 132 ' "$name.log" | tail -n 1 | cut -d' ' -f5-10)
expect_equal "closing report, refused and sent again" "refused set 3 7
set 3 7 01 $last" "$(tail -n 2 "$name.log")"
expect_equal "refused reports" 1 "$(grep -c '^refused' "$name.log")"
expect_contains "bootloader left" "bootloader left" "$(ctl state)"
