# hex-upload.exe -w started before the bootloader is there: it waits, sends
# nothing meanwhile, and writes the firmware once the device is plugged in.
. "$E2E_SRC/tests/e2e/sorbel/common.sh"
start_session

name="$SORBEL_DIR/wait"
make_hex "$name.hex" "$name.image" 8192 0 0x300
ctl config 128 8192
ctl unplug
: > "$name.out"
(cd "$E2E_BIN" && run_wine 120 hex-upload.exe -w "$(win_path "$name.hex")" > "$name.out") &
uploader=$!
running() { kill -0 "$uploader" 2>/dev/null; }
waiting() { grep -q 'Waiting for the Sorbel device' "$name.out" || ! running; }
wait_until 60 waiting && running || fail "hex-upload.exe does not wait: $(cat "$name.out")"
sleep 1
fetch_log "$name.log-waiting"
expect_equal "reports while waiting" "" "$(cat "$name.log-waiting")"
running || fail "hex-upload.exe ended while waiting: $(cat "$name.out")"
ctl plug
rc=0
wait "$uploader" || rc=$?
expect_equal "exit code" 0 "$rc"
expect_equal "output" "Waiting for the Sorbel device (press Ctrl+C to stop) ...
Page size   = 128 (0x80)" "$(tr -d '\r' < "$name.out" | head -n 2)"
expect_contains "success line" "The firmware is written successfully after 0 retries." "$(cat "$name.out")"
fetch_flash "$name.flash"
cmp "$name.image" "$name.flash" || fail "flash differs from the image"
fetch_log "$name.log"
expect_equal "device info reads" 1 "$(grep -c '^get 3 7 ' "$name.log")"
