# File names beyond the ANSI code page: a Cyrillic name and one with a
# character outside the Basic Multilingual Plane are written into the
# bootloader; a missing file's name comes back intact, as UTF-8 through a
# pipe and in a console (tmux).
. "$E2E_SRC/tests/e2e/sorbel/common.sh"
start_session

for name in "прошивка" "firmware-𝄞"; do
  note "$name.hex"
  ctl config 128 8192
  make_hex "$SORBEL_DIR/$name.hex" "$SORBEL_DIR/$name.image" 8192 0x0105 0x0400 "${#name}"
  upload "$SORBEL_DIR/$name.hex"
  expect_equal "exit code for $name.hex" 0 "$UPLOAD_RC"
  expect_contains "success line for $name.hex" "The firmware is written successfully after 0 retries." "$UPLOAD_OUT"
  # The control program takes ANSI names.
  fetch_flash "$SORBEL_DIR/names.flash"
  cmp "$SORBEL_DIR/$name.image" "$SORBEL_DIR/names.flash" || fail "flash differs from $name.image"
  ctl reset
done

missing=$(win_path "$SORBEL_DIR/нет-𝄞.hex")
expect_contains "Windows name of the missing file" 'нет-𝄞.hex' "$missing"
upload "$SORBEL_DIR/нет-𝄞.hex"
expect_equal "exit code for a missing file" 1 "$UPLOAD_RC"
expect_equal "missing file through a pipe" "error opening $missing: No such file or directory" "$UPLOAD_OUT"

# Wine's terminal console draws each half of a surrogate pair on its own, as
# U+FFFD, where a console window shows the character.
tmux_socket="sorbel-names-$$"
env_vars="PATH='$PATH' WINEPREFIX='$WINEPREFIX' WINELOADER='$WINELOADER' WINEARCH='$WINEARCH'"
env_vars+=" WINEDEBUG='$WINEDEBUG' WINEDLLOVERRIDES='$WINEDLLOVERRIDES' LANG=C.UTF-8 LC_ALL=C.UTF-8"
LANG=C.UTF-8 tmux -u -L "$tmux_socket" new-session -d -s names -x 200 -y 20 \
  "cd '$E2E_BIN' && env $env_vars wine hex-upload.exe '$missing'; echo EXIT=\$?; sleep 120"
screen() { tmux -u -L "$tmux_socket" capture-pane -p -t names | sed 's/[[:space:]]*$//' | grep .; }
ended() { screen | grep -q '^EXIT='; }
wait_until 60 ended || true
shown=$(screen)
tmux -L "$tmux_socket" kill-server
expect_equal "missing file in a console" "error opening $missing: No such file or directory
EXIT=1" "${shown/��/𝄞}"
