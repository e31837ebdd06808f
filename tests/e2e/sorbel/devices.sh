# The device is found among the other HID devices the Wine session shows (its
# own virtual mouse and keyboard, listed before ours), by ids and strings
# through the Windows HID functions; with another product string it is passed
# over like them.
. "$E2E_SRC/tests/e2e/sorbel/common.sh"
start_session

manufacturer=$(sed -n 's/^HEX_UPLOAD_MANUFACTURER:STRING=//p' "$E2E_BUILD/CMakeCache.txt")
list=$(ctl hid-list | tr -d '\r')
note "HID devices:"$'\n'"$list"
expect_contains "our device in the HID list" "16c0:05df 0100 $manufacturer | Sorbel" "$list"
others=$(grep -vc '^16c0:05df ' <<<"$list" || true)
position=$(grep -n '^16c0:05df ' <<<"$list" | head -n 1 | cut -d: -f1)
note "$others other HID device(s) in the list, ours is number $position"
# Where the session has devices of its own, the search meets them first.
if [ "$others" -gt 0 ] && [ "$position" -eq 1 ]; then
  fail "our device is listed first: the search would not pass over the others"
fi

name="$SORBEL_DIR/devices"
make_hex "$name.hex" "$name.image" 32768 0x0200 0x0300
upload "$name.hex"
expect_equal "exit code with other HID devices present" 0 "$UPLOAD_RC"
expect_contains "success line" "The firmware is written successfully after 0 retries." "$UPLOAD_OUT"
fetch_flash "$name.flash"
cmp "$name.image" "$name.flash" || fail "flash differs from the image"

# Another product string: no device matches, ten open failures, nothing sent.
ctl reset
ctl product "Sorbel2"
expect_contains "renamed device in the HID list" "16c0:05df 0100 $manufacturer | Sorbel2" "$(ctl hid-list | tr -d '\r')"
upload "$name.hex"
expect_equal "exit code without a matching device" 1 "$UPLOAD_RC"
expect_equal "open failures" 10 \
  "$(grep -c '^Error opening Sorbel device: The specified device was not found$' <<<"$UPLOAD_OUT")"
fetch_log "$name-renamed.log"
expect_equal "reports exchanged with the renamed device" 0 "$(wc -l < "$name-renamed.log")"
