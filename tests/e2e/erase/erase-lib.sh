# Helpers of the firmware-erase end-to-end tests. Sourced by each test.
# The program runs in a detached tmux session (a real console: key reads
# without echo, console writes); its screen is read with capture-pane.

ERASE_TMUX="erase-e2e-$$"
ERASE_POWER_ON_REGISTERS="00 00 00 00 00 00 00 00 00 00 01 00 00 00 00 00"

erase_cleanup() {
  tmux -L "$ERASE_TMUX" kill-server 2>/dev/null || true
  # The next test finds a fresh, persistent server.
  wine_server_start
}
trap erase_cleanup EXIT

# sim ARGS...: tarnel-sim-ctl.exe with line ends stripped.
sim() { (cd "$E2E_BIN" && run_wine 120 tarnel-sim-ctl.exe "$@") | tr -d '\r'; }

# The driver's state lives as long as the wineserver: a new server for the
# test, then the simulated adapter in it.
sim_start() {
  wine_server_start
  sim install >/dev/null || fail "tarnel-sim-ctl install"
  sim fail none
}

# sim_place LPT EEPROM: the adapter on \\.\LPT<n> (0: nowhere) with that
# first EEPROM byte.
sim_place() {
  sim lpt "$1"
  sim set "$ERASE_POWER_ON_REGISTERS" "$2"
}

eeprom_byte() { sim get | sed -n 2p; }

# Starts firmware-erase.exe in a fresh 120x40 console; EXIT=<code> follows
# its last output.
# Each run gets a tmux server of its own: a new session on the socket of a
# server that is still shutting down fails with "server exited unexpectedly".
ERASE_RUNS=0
erase_start() {
  tmux -L "$ERASE_TMUX" kill-server 2>/dev/null || true
  ERASE_RUNS=$(( ERASE_RUNS + 1 ))
  ERASE_TMUX="erase-e2e-$$-$ERASE_RUNS"
  local env_vars="PATH='$PATH' WINEPREFIX='$WINEPREFIX' WINELOADER='$WINELOADER' WINEARCH='$WINEARCH'"
  env_vars+=" WINEDEBUG='$WINEDEBUG' WINEDLLOVERRIDES='$WINEDLLOVERRIDES' LANG=C.UTF-8 LC_ALL=C.UTF-8"
  LANG=C.UTF-8 tmux -u -L "$ERASE_TMUX" new-session -d -s erase -x 120 -y 40 \
    "cd '$E2E_BIN' && env $env_vars wine firmware-erase.exe; echo EXIT=\$?; sleep 600"
}

# The console screen, trailing blanks and empty lines removed.
screen() {
  tmux -u -L "$ERASE_TMUX" capture-pane -p -t erase | sed 's/[[:space:]]*$//' |
    sed -e ':a' -e '/^\n*$/{$d;N;ba' -e '}'
}
screen_has() { screen | grep -qF -- "$1"; }

# wait_for TEXT: polls the screen until TEXT appears (60 s at most).
wait_for() {
  wait_until 60 screen_has "$1" || { screen >&2; fail "the console never showed «$1»"; }
}

press() { tmux -L "$ERASE_TMUX" send-keys -t erase -l "$1"; }

# The end prompt waits: a second later the program has still not ended.
expect_waiting_for_key() {
  wait_for "Beliebige Taste zum Programmende drücken ..."
  sleep 1
  if screen_has "EXIT="; then screen >&2; fail "the program ended without waiting for a key"; fi
}

# Presses a key at the end prompt and expects exit code 0.
finish_with_key() {
  press "$1"
  wait_for "EXIT="
  expect_contains "exit code" "EXIT=0" "$(screen)"
}

BANNER="Hilfsprogramm zum Löschen (Deaktivieren) der Firmware vom Kelmo Tarnel-Gerät
Versionen 1.0 bis 1.4, April 2007
"
QUESTION_C2="Firmware im EEPROM des Tarnel jetzt löschen?
[Zum Beschreiben des EEPROM wird die kostenlose Entwicklungssoftware von
softwaretools.infineon.com benötigt, davon m.W. das Programm EzMr.exe.]
Erstes Byte (0xC2) löschen (überschreiben mit 0xFF)? J/N:"
END_PROMPT="Beliebige Taste zum Programmende drücken ..."
DEVICE_FAILED="Fehler beim Ausführen der Gerätesteuerung, Tarnel nicht angesteckt?"
