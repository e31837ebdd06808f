# Several boards under Wine: the driver's four device nodes as boards at the
# places 0000 to 0003 (the last part of each HID device's instance id, as Wine
# tells no USB location). Board 3 has another product string, board 4 cannot
# be opened; --list, -d and --all through the Windows HID functions, with a
# thread per board.
. "$E2E_SRC/tests/e2e/sorbel/common.sh"
start_session
wait_for_four_boards

name="$SORBEL_DIR/several"
make_hex "$name.hex" "$name.image" 32768 0 0x900
erased() { head -c 32768 /dev/zero | tr '\0' '\377'; }
erased > "$name.erased"
setup() {
  ctl reset
  for board in 2 3 4; do ctl --board "$board" plug; done
  ctl --board 3 product Other
  ctl --board 4 lock on
}
# run ARGS...: OUT (without CRs) and RC.
run() {
  RC=0
  OUT=$(cd "$E2E_BIN" && run_wine 180 hex-upload.exe "$@" | tr -d '\r') || RC=$?
}
# flash_is BOARD image|erased
flash_is() {
  ctl --board "$1" flash "$(win_path "$name.flash$1")"
  cmp -s "$name.$2" "$name.flash$1" || fail "board $1 is not $2"
}

setup
run --list
expect_equal "exit code of --list" 0 "$RC"
expect_equal "list" "$(printf '%s\t%s\t%s\t%s\n' \
  0000 '\\?\hid#virtualsorbel#0000#{4d1e55b2-f16f-11cf-88cb-001111000030}' Sorbel ready \
  0001 '\\?\hid#virtualsorbel#0001#{4d1e55b2-f16f-11cf-88cb-001111000030}' Sorbel ready \
  0002 '\\?\hid#virtualsorbel#0002#{4d1e55b2-f16f-11cf-88cb-001111000030}' Other 'other product')" \
  "$OUT"

# -d: only the chosen board written, no note; an empty place reads as no device.
run -d 0001 "$(win_path "$name.hex")"
expect_equal "exit code of -d" 0 "$RC"
expect_equal "first line of -d" "Page size   = 128 (0x80)" "${OUT%%$'\n'*}"
flash_is 1 erased
flash_is 2 image
run -d 0003 "$(win_path "$name.hex")"
expect_equal "exit code of -d at the locked board" 1 "$RC"
expect_equal "open failures at the locked board" 10 \
  "$(grep -cx 'Error opening Sorbel device: The specified device was not found' <<<"$OUT")"

# Without -d: the note, then the first board.
setup
run "$(win_path "$name.hex")"
expect_equal "note" \
  "Note: 2 Sorbel devices are attached; writing the one at 0000 (--list lists them, -d PLACE picks one)" \
  "${OUT%%$'\n'*}"

# --all: board 2 fails a block and resumes, board 3 (a bootloader again) is
# pulled out midway; boards 1 and 2 written, the summary names board 3.
setup
ctl --board 3 product Sorbel
ctl --board 2 fail-block 5
ctl --board 3 unplug-after 6
run --all "$(win_path "$name.hex")"
expect_equal "exit code of --all" 1 "$RC"
flash_is 1 image
flash_is 2 image
expect_contains "resumed" "0001: The firmware is written successfully after 1 retries." "$OUT"
expect_equal "summary" "$(printf '%s\n' "Summary: 2 of 3 written" "0000: written" "0001: written" \
  "0002: Error opening Sorbel device: The specified device was not found")" "$(tail -n 4 <<<"$OUT")"
expect_equal "lines without their place" 0 "$(head -n -4 <<<"$OUT" | tail -n +2 | grep -cv '^000[0-3]: ' || true)"
expect_equal "progress lines of board 1" 10 "$(grep -c '^0000: .*% written' <<<"$OUT")"

# Two writers for one board: while one run writes board 2, a second run for
# the same place ends at once with one line and sends nothing.
setup
# Slow enough (18 s for the 18 blocks) that the second run meets the first
# midway even on a loaded machine.
ctl --board 2 delay 1000
(cd "$E2E_BIN" && run_wine 180 hex-upload.exe -d 0001 "$(win_path "$name.hex")" | tr -d '\r') \
  > "$name.first" &
first=$!
first_block_sent() {
  ctl --board 2 log "$(win_path "$name.log2")" > /dev/null 2>&1 &&
    [ -n "$(block_addresses "$name.log2")" ]
}
wait_until 60 first_block_sent || fail "the first writer sent no block"
run -d 0001 "$(win_path "$name.hex")"
expect_equal "exit code of the second writer" 1 "$RC"
expect_equal "the second writer's line" "The Sorbel device at 0001 is in use by another program" "$OUT"
wait "$first" || fail "the first writer failed: $(cat "$name.first")"
flash_is 2 image
ctl --board 2 log "$(win_path "$name.log2")"
expect_equal "blocks board 2 received" 18 "$(block_addresses "$name.log2" | wc -l)"

# Without -d, the first board pulled out midway: the attempts look only at
# its place, the second board gets nothing, and the last line names it.
setup
ctl --board 1 unplug-after 6
run "$(win_path "$name.hex")"
expect_equal "exit code with the first board gone" 1 "$RC"
flash_is 2 erased
expect_equal "last line with the first board gone" "No Sorbel device is at 0000; attached: 0001" \
  "$(tail -n 1 <<<"$OUT")"
