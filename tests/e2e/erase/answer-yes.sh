# Adapter on LPT5 with a firmware image: answering j overwrites the first
# byte with FF; the next run finds the firmware erased. The umlauts on the
# screen prove the conversion to the console's OEM code page.
. "$E2E_SRC/tests/e2e/erase/erase-lib.sh"
sim_start
sim_place 5 C2

erase_start
wait_for "J/N:"
press j
expect_waiting_for_key
expect_equal "screen after j" "$BANNER
$QUESTION_C2 j
Firmware wurde durch Überschreiben des ersten Bytes gelöscht.
$END_PROMPT" "$(screen)"
finish_with_key " "
expect_equal "EEPROM after j" "FF" "$(eeprom_byte)"

note "second run"
erase_start
expect_waiting_for_key
expect_equal "second run" "$BANNER
Firmware ist bereits gelöscht. Tarnel abziehen und wieder anstecken!

$END_PROMPT" "$(screen)"
finish_with_key j
expect_equal "EEPROM after the second run" "FF" "$(eeprom_byte)"
