# Failing EEPROM requests end in their message and the end prompt; the
# EEPROM keeps its byte.
. "$E2E_SRC/tests/e2e/erase/erase-lib.sh"
sim_start
sim_place 5 B2

note "read fails"
sim fail read
erase_start
expect_waiting_for_key
expect_equal "read failure" "$BANNER
$DEVICE_FAILED

$END_PROMPT" "$(screen)"
finish_with_key j

note "write fails"
sim fail write
erase_start
wait_for "(0xB2)"
press Y
expect_waiting_for_key
expect_equal "write failure" "$BANNER
${QUESTION_C2/0xC2/0xB2} Y
$DEVICE_FAILED

$END_PROMPT" "$(screen)"
finish_with_key n
expect_equal "EEPROM after the failed write" "B2" "$(eeprom_byte)"
