# Data reaching into the top 2048 bytes of the flash: every one of the 10
# attempts reads the device info, refuses, and nothing is written.
. "$E2E_SRC/tests/e2e/sorbel/common.sh"
start_session

name="$SORBEL_DIR/refusal"
make_hex "$name.hex" "$name.image" 8192 0 6145
ctl config 64 8192
upload "$name.hex"
expect_equal "exit code" 1 "$UPLOAD_RC"
expect_equal "refusals" 10 "$(grep -c '^Data (6145 bytes) exceeds remaining flash size!$' <<<"$UPLOAD_OUT")"
expect_equal "device info lines" 10 "$(grep -c '^Device size = 8192 (0x2000); 6144 bytes remaining$' <<<"$UPLOAD_OUT")"
if grep -q 'Uploading' <<<"$UPLOAD_OUT"; then fail "an upload started: $UPLOAD_OUT"; fi
fetch_log "$name.log"
expect_equal "device info reads" 10 "$(grep -c '^get 3 7 01 40 00 00 20 00 00$' "$name.log")"
expect_equal "reports written" 0 "$(grep -c '^set ' "$name.log" || true)"
fetch_flash "$name.flash"
cmp <(head -c 8192 /dev/zero | tr '\0' '\377') "$name.flash" || fail "the refused upload changed the flash"
