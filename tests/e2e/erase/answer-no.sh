# Adapter on LPT5 with a firmware image: answering n leaves the EEPROM as it
# was, with no further message.
. "$E2E_SRC/tests/e2e/erase/erase-lib.sh"
sim_start
sim_place 5 C2

erase_start
wait_for "J/N:"
expect_equal "question" "$BANNER
$QUESTION_C2" "$(screen)"
press n
expect_waiting_for_key
expect_equal "screen after n" "$BANNER
$QUESTION_C2 n

$END_PROMPT" "$(screen)"
finish_with_key " "
expect_equal "EEPROM after n" "C2" "$(eeprom_byte)"
