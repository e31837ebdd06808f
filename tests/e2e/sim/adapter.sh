# The simulated adapter driver answers the device requests of port-monitor's
# access methods 1..3 and of firmware-erase, byte for byte as those programs
# make them, and tarnel-sim-ctl sees and steers the same port.

ctl() { run_wine 60 "$E2E_BIN/tarnel-sim-ctl.exe" "$@" | tr -d '\r'; }
client() { run_wine 60 "$E2E_BIN/sim-client.exe" "$@" | tr -d '\r'; }
# register INDEX: one value out of the first line of "get".
register() { ctl get | head -n1 | cut -d' ' -f$(( $1 + 1 )); }
eeprom() { ctl get | sed -n 2p; }
fails() { ! run_wine 60 "$E2E_BIN/$@" >/dev/null 2>&1; }

power_on="00 00 00 00 00 00 00 00 00 00 01 00 00 00 00 00"

note "install again is success and gives the power-on state"
ctl install
expect_equal "power-on state" "$power_on
C2" "$(ctl get)"

note "set, then get shows the status inputs and the ECR as read"
ctl set "01 a5 04 00 00 00 00 00 00 00 23 00 00 00 00 7f" C2
expect_equal "state after set" "01 A5 04 00 00 00 00 00 00 00 21 00 00 00 00 7F
C2" "$(ctl get)"

note "method 3 (\\\\.\\LPT2, 0x222010)"
client lpt2 write 0 AB
expect_equal "data register written through LPT2" AB "$(register 0)"
expect_equal "status read through LPT2" A5 "$(client lpt2 read 1)"
client lpt2 write 1 FF
expect_equal "status ignores writes" A5 "$(register 1)"
expect_equal "ECR read through LPT2" 21 "$(client lpt2 read A)"

note "method 2 (\\\\.\\EZUSB-0, bulk pipes 0 and 1)"
client ezusb write 2 0C
expect_equal "control register written through EZ-USB" 0C "$(register 2)"
expect_equal "control register read through EZ-USB" 0C "$(client ezusb read 2)"
expect_equal "data register read through EZ-USB" AB "$(client ezusb read 0)"

note "method 1 (\\\\.\\ZLPORTIO, port addresses)"
client portio write 9 5C
expect_equal "cfgB written at 0x779" 5C "$(register 9)"
expect_equal "cfgB read at 0x779" 5C "$(client portio read 9)"
expect_equal "status read at 0x379" A5 "$(client portio read 1)"

note "mode 7: cfgA reads 10, cfgB reads back"
client portio write A E0
expect_equal "ECR in mode 7" E1 "$(register 10)"
expect_equal "cfgA" 10 "$(client lpt2 read 8)"
expect_equal "cfgB" 5C "$(client lpt2 read 9)"

note "mode 5 is refused"
client lpt2 write A A0
expect_equal "ECR stays in mode 7" E1 "$(register 10)"

note "mode 6: the test FIFO keeps bytes in order"
client lpt2 write A C0
client lpt2 write 8 11 22 33
expect_equal "ECR with bytes in the FIFO" C0 "$(register 10)"
expect_equal "get shows the next FIFO byte without taking it" 11 "$(register 8)"
expect_equal "first byte back" 11 "$(client lpt2 read 8)"
expect_equal "second byte back" 22 "$(client ezusb read 8)"
expect_equal "third byte back" 33 "$(client portio read 8)"
expect_equal "ECR with the FIFO empty" C1 "$(register 10)"
client lpt2 write 8 40 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F
expect_equal "ECR with the FIFO full" C2 "$(register 10)"

note "EEPROM requests as firmware-erase makes them"
expect_equal "EEPROM read" C2 "$(client eeprom2 read)"
client eeprom2 write FF
expect_equal "EEPROM written" FF "$(eeprom)"
ctl fail read
fails sim-client.exe eeprom2 read || fail "EEPROM read succeeded with fail read"
client eeprom2 write B2
ctl fail write
fails sim-client.exe eeprom2 write FF || fail "EEPROM write succeeded with fail write"
expect_equal "EEPROM read with fail write" B2 "$(client eeprom2 read)"
ctl fail none
client eeprom2 write C2
expect_equal "EEPROM after fail none" C2 "$(eeprom)"

note "malformed requests and unknown codes fail"
client malformed

note "lpt N moves the device; lpt 0 hides it"
ctl lpt 5
expect_equal "devices after lpt 5" "LPT2 no
LPT5 yes" "$(client open LPT2 LPT5)"
expect_equal "EEPROM through LPT5" C2 "$(client eeprom5 read)"
ctl lpt 0
expect_equal "devices after lpt 0" "LPT1 no
LPT2 no
LPT3 no
LPT4 no
LPT5 no
LPT6 no
LPT7 no
LPT8 no
EZUSB-0 yes
ZLPORTIO yes" "$(client open LPT1 LPT2 LPT3 LPT4 LPT5 LPT6 LPT7 LPT8 EZUSB-0 ZLPORTIO)"
ctl lpt 3

note "the state survives a restart of the wineserver"
before=$(ctl get)
# The driver's host ends with the wineserver; the next program starts it again.
wine_server_start
expect_equal "state after the restart" "$before" "$(ctl get)"
expect_equal "LPT3 after the restart" "LPT3 yes" "$(client open LPT3)"

note "bad usage is refused with a message and changes nothing"
for args in "set 00 C2" "lpt 256" "fail sometimes" "frobnicate"; do
  # shellcheck disable=SC2086
  if msg=$(run_wine 60 "$E2E_BIN/tarnel-sim-ctl.exe" $args 2>&1); then fail "ctl $args succeeded"; fi
  expect_contains "message for ctl $args" "tarnel-sim-ctl:" "$msg"
done
if run_wine 60 "$E2E_BIN/tarnel-sim-ctl.exe" set "00 00 00 00 00 00 00 00 00 00 A0 00 00 00 00 00" C2 2>/dev/null; then
  fail "set accepted ECR mode 5"
fi
expect_equal "state unchanged by bad usage" "$before" "$(ctl get)"

note "reset gives the power-on port and keeps the LPT number"
ctl reset
expect_equal "state after reset" "$power_on
C2" "$(ctl get)"
expect_equal "LPT3 after reset" "LPT3 yes" "$(client open LPT3)"

note "install puts the adapter back to power-on on LPT2"
ctl set "00 00 00 00 00 00 00 00 00 00 C0 00 00 00 00 00" FF
ctl fail write
ctl install
expect_equal "power-on state after install" "$power_on
C2" "$(ctl get)"
expect_equal "LPT2 after install" "LPT2 yes
LPT3 no" "$(client open LPT2 LPT3)"
client eeprom2 write C2 || fail "EEPROM write still fails after install"
