# Helpers of the Sorbel bootloader tests, sourced by each test script after
# tests/e2e/lib.sh. Each test keeps one Wine session open with
# "sorbel-sim-ctl hold", so that its many short programs do not each start
# the session (and load the driver) anew, and starts from a reset device.

SORBEL_DIR="$E2E_STATE/sorbel"
mkdir -p "$SORBEL_DIR"

ctl() { (cd "$E2E_BIN" && run_wine 60 sorbel-sim-ctl.exe "$@"); }

# Starts the session keeper and waits until the device answers.
start_session() {
  (cd "$E2E_BIN" && exec wine sorbel-sim-ctl.exe hold 900) &
  SORBEL_KEEPER=$!
  # Whatever the test did, the next one finds the device at its defaults.
  trap 'ctl reset >/dev/null 2>&1 || true; kill "$SORBEL_KEEPER" 2>/dev/null || true
        wait "$SORBEL_KEEPER" 2>/dev/null || true' EXIT
  wait_until 60 device_ready || fail "the simulated bootloader did not come up"
  ctl reset
}
device_ready() { ctl state 2>/dev/null | grep -q 'HID devices added [1-9]'; }

# Waits until the driver has added all four of its boards.
wait_for_four_boards() {
  four_boards() { ctl state 2>/dev/null | grep -q 'HID devices added 4'; }
  wait_until 60 four_boards || fail "the driver did not add its four boards"
}

# upload HEXFILE: runs hex-upload.exe, sets UPLOAD_OUT (without CRs) and UPLOAD_RC.
upload() {
  UPLOAD_RC=0
  UPLOAD_OUT=$(cd "$E2E_BIN" && run_wine 120 hex-upload.exe "$(win_path "$1")" | tr -d '\r') || UPLOAD_RC=$?
}

# fetch_flash FILE, fetch_log FILE: the device's flash contents, its report log.
fetch_flash() { ctl flash "$(win_path "$1")"; }
fetch_log() { ctl log "$(win_path "$1")"; }

# Addresses of the data blocks in a log, one per line, as six hex digits.
block_addresses() { awk '$1 == "set" && $3 == 132 { print $7 $6 $5 }' "$1"; }

make_hex() { python3 "$E2E_SRC/tests/e2e/sorbel/make_hex.py" "$@"; }
