# Output to a file and input that is no console: the whole text arrives in
# the file (in the OEM code page), nothing waits for a key, the answer counts
# as no, and the exit code is 0.
. "$E2E_SRC/tests/e2e/erase/erase-lib.sh"
sim_start
sim_place 5 C2

out="$E2E_STATE/erase-redirected.out"
rc=0
(cd "$E2E_BIN" && run_wine 60 firmware-erase.exe < /dev/null > "$out") || rc=$?
expect_equal "exit code" "0" "$rc"
expect_equal "EEPROM" "C2" "$(eeprom_byte)"
expected=$(printf '%s\n%s\n\n%s' "$BANNER" "$QUESTION_C2 " "$END_PROMPT" | iconv -f UTF-8 -t CP437)
expect_equal "file contents (CP437)" "$expected" "$(cat "$out")"
