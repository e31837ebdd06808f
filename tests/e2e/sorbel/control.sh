# sorbel-sim-ctl.exe turns bad requests away with a clear message and leaves
# the device as it was.
. "$E2E_SRC/tests/e2e/sorbel/common.sh"
start_session

name="$SORBEL_DIR/control"
make_hex "$name.hex" "$name.image" 16384 0x0400 0x0300
ctl config 256 16384
upload "$name.hex"
expect_equal "exit code" 0 "$UPLOAD_RC"
before_state=$(ctl state)
fetch_flash "$name.before"
fetch_log "$name.log-before"

long=$(printf 'S%.0s' $(seq 1 130))
missing_dir=$(win_path "$SORBEL_DIR/no-such-folder")
# arguments | exit code | message
cases=(
  "config 64|2|usage: sorbel-sim-ctl"
  "config 64 sixteen|2|usage: sorbel-sim-ctl"
  "config -64 8192|2|usage: sorbel-sim-ctl"
  "fail-block -1|2|usage: sorbel-sim-ctl"
  "product $long|1|sorbel-sim-ctl: product text too long"
  "flash $missing_dir\\flash.bin|1|sorbel-sim-ctl: cannot write the flash file"
  "log $missing_dir\\log.txt|1|sorbel-sim-ctl: cannot write the log file"
  "strict-length yes|2|usage: sorbel-sim-ctl"
  "unplug now|2|usage: sorbel-sim-ctl"
  "erase|2|usage: sorbel-sim-ctl"
)
for row in "${cases[@]}"; do
  IFS='|' read -r arguments code message <<<"$row"
  rc=0
  # shellcheck disable=SC2086
  err=$(ctl $arguments 2>&1 >/dev/null | tr -d '\r') || rc=$?
  expect_equal "exit code of: ${arguments:0:40}" "$code" "$rc"
  expect_contains "message of: ${arguments:0:40}" "$message" "$err"
done

expect_equal "device state after the refused requests" "$before_state" "$(ctl state)"
fetch_flash "$name.after"
cmp "$name.before" "$name.after" || fail "a refused request changed the flash"
cmp "$name.image" "$name.after" || fail "flash differs from the image"
fetch_log "$name.log-after"
cmp "$name.log-before" "$name.log-after" || fail "a refused request changed the log"
