# The simulated device keeps its state across Wine sessions, like a device that
# stays plugged in: settings, product string, pending failure, flash and log
# written in one session are there in the next.
. "$E2E_SRC/tests/e2e/sorbel/common.sh"

end_session() { wine_server_start; }
trap 'ctl reset >/dev/null 2>&1 || true' EXIT

end_session
wait_until 60 device_ready || fail "the simulated bootloader did not come up"
ctl reset
ctl config 256 16384
ctl fail-block 2
name="$SORBEL_DIR/sessions"
make_hex "$name.hex" "$name.image" 16384 0x0300 0x0200
end_session

upload "$name.hex"
expect_equal "exit code" 0 "$UPLOAD_RC"
expect_contains "settings kept" "Page size   = 256 (0x100)" "$UPLOAD_OUT"
expect_contains "pending failure kept" "The firmware is written successfully after 1 retries." "$UPLOAD_OUT"
fetch_log "$name.log-1"
end_session

fetch_flash "$name.flash"
cmp "$name.image" "$name.flash" || fail "flash not kept across sessions"
fetch_log "$name.log-2"
cmp "$name.log-1" "$name.log-2" || fail "log not kept across sessions"
expect_contains "state" "flash 16384, log $(wc -c < "$name.log-1") bytes (0 dropped), bootloader left" "$(ctl state)"
