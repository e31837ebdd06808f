# No adapter under any LPT name: banner, the plug-in request, the end prompt
# that waits for a key, exit code 0.
. "$E2E_SRC/tests/e2e/erase/erase-lib.sh"
sim_start
sim_place 0 C2

erase_start
expect_waiting_for_key
expect_equal "screen" "$BANNER
Tarnel anstecken, muss LPTx sein!

$END_PROMPT" "$(screen)"
finish_with_key x
expect_equal "screen after the key" "$BANNER
Tarnel anstecken, muss LPTx sein!

${END_PROMPT}x
EXIT=0" "$(screen)"
expect_equal "EEPROM" "C2" "$(eeprom_byte)"
