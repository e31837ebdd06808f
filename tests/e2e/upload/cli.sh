# hex-upload.exe without a bootloader: usage, files without data or with data
# outside the image, and the search that finds nothing among Wine's own HID
# devices.
cd "$E2E_BIN"
work="$E2E_STATE/upload-cli"
mkdir -p "$work"

# hex-upload ARGS...: sets OUT (without CRs) and RC.
hex_upload() {
  RC=0
  OUT=$(run_wine 60 hex-upload.exe "$@" | tr -d '\r') || RC=$?
}

# The usage line alone, or (-h, --help) followed by the options and exit
# codes; bad options get the usage line.
for args in "" "-h" "--help" "-r" "-h file.hex" "-d" "--all -d 1 file.hex" "--all -w file.hex" \
  "-x file.hex"; do
  # shellcheck disable=SC2086
  hex_upload $args
  expect_equal "exit code of usage for «$args»" 1 "$RC"
  usage=${OUT%%$'\n'*}
  [[ "$usage" =~ ^usage:\ .*hex-upload(\.exe)?\ \[-r\]\ \<intel-hexfile\>$ ]] || fail "usage for «$args»: $OUT"
  lines=1
  [[ "$args" == -h* || "$args" == --help ]] && lines=17
  expect_equal "lines of usage for «$args»" "$lines" "$(wc -l <<<"$OUT")"
  [ "$lines" = 1 ] || expect_contains "help for «$args»" $'Exit codes:\n  0  written' "$OUT"
  [ "$lines" = 1 ] || expect_contains "--watch in the help for «$args»" \
    $'  --watch     write each Sorbel device that appears, until Ctrl+C;\n' "$OUT"
done

printf ':020000040000FA\r\n:00000001FF\r\n' > "$work/empty.hex"
hex_upload "$(win_path "$work/empty.hex")"
expect_equal "exit code without data" 0 "$RC"
expect_equal "output without data" "No data in input file, exiting." "$OUT"

printf ':020000040002F8\r\n:10000000000102030405060708090A0B0C0D0E0F78\r\n' > "$work/high.hex"
hex_upload -r "$(win_path "$work/high.hex")"
expect_equal "exit code for data outside the image" 1 "$RC"
expect_equal "data outside the image" \
  "Error: data record at address 0x20000 lies outside the firmware image (0x0 to 0x100ff), exiting." "$OUT"

hex_upload "$(win_path "$work/missing.hex")"
expect_equal "exit code for a missing file" 1 "$RC"
expect_contains "missing file" "error opening " "$OUT"

# A message longer than any fixed buffer keeps its reason and its line end.
long_name=$(printf 'd%.0s' {1..1000})
run_wine 60 hex-upload.exe "$long_name" > "$work/long.out" || true
[ "$(tail -c 1 "$work/long.out" | od -An -c | tr -d ' ')" = '\n' ] || fail "long path: no line end"
[[ "$(tr -d '\r' < "$work/long.out")" =~ ^error\ opening\ $long_name:\ [A-Z].+$ ]] ||
  fail "long path: $(head -c 80 "$work/long.out") ... $(tail -c 80 "$work/long.out")"

# No bootloader attached: ten open failures, each attempt right after the last.
# Where the simulated bootloader driver is installed in the prefix, its device
# stays attached; it gets another product string for this part, so that the
# search passes over it like over Wine's own HID devices.
if [ -f sorbel-sim-ctl.exe ]; then
  sorbel_ctl() { run_wine 60 sorbel-sim-ctl.exe "$@" >/dev/null 2>&1; }
  trap 'sorbel_ctl reset || true' EXIT
  wait_until 60 sorbel_ctl product "Not a bootloader" || fail "could not rename the simulated bootloader"
fi
printf ':10000000000102030405060708090A0B0C0D0E0F78\r\n:00000001FF\r\n' > "$work/data.hex"
started=$(date +%s%N)
hex_upload "$(win_path "$work/data.hex")"
elapsed_ms=$(( ($(date +%s%N) - started) / 1000000 ))
expect_equal "exit code without a device" 1 "$RC"
expected=$(for _ in 1 2 3 4 5 6 7 8 9 10; do echo "Error opening Sorbel device: The specified device was not found"; done)
expect_equal "output without a device" "$expected" "$OUT"
note "ten attempts without a device took ${elapsed_ms} ms"
