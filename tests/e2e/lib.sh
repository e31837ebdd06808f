# Shared helpers for the end-to-end tests under Wine. Sourced, not run.
# Needs E2E_BUILD (the Windows build tree) and E2E_BIN.

E2E_STATE="$E2E_BUILD/e2e"
mkdir -p "$E2E_STATE"

# Which build the tests run: the shipped 32-bit programs under a 32-bit Wine
# where this machine executes 32-bit code, else the 64-bit build of the same
# sources (build/windows/x64) under the 64-bit Wine. wine-setup decides once.
E2E_ARCH="${E2E_ARCH:-$(cat "$E2E_STATE/arch" 2>/dev/null || true)}"
if [ -z "$E2E_ARCH" ]; then
  if [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && [ -x /usr/lib/wine/wine ] &&
     timeout 30 /usr/lib/wine/wine --version >/dev/null 2>&1; then
    E2E_ARCH=i686
  else
    E2E_ARCH=x86_64
  fi
fi
export E2E_ARCH
if [ "$E2E_ARCH" = i686 ]; then
  export WINEARCH=win32 WINELOADER=/usr/lib/wine/wine
  E2E_BIN="$E2E_BUILD/bin"
else
  export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64
  E2E_BIN="$E2E_BUILD/x64/bin"
fi
export E2E_BIN
export WINEPREFIX="${E2E_WINEPREFIX:-$E2E_BUILD/wine-$E2E_ARCH}"
# "wine" in every script, and in shells the tests start (tmux), is the loader
# of the chosen architecture.
mkdir -p "$E2E_STATE/winebin"
printf '#!/bin/sh\nexec %s "$@"\n' "$WINELOADER" > "$E2E_STATE/winebin/wine"
chmod +x "$E2E_STATE/winebin/wine"
case ":$PATH:" in *":$E2E_STATE/winebin:"*) ;; *) export PATH="$E2E_STATE/winebin:$PATH" ;; esac
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installer dialogs when the prefix is made.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree=d;mshtml=d;winemenubuilder.exe=d}"
# A fixed locale gives fixed code pages: ANSI 1252, OEM 437.
export LANG=C.UTF-8 LC_ALL=C.UTF-8
if [ -z "${DISPLAY:-}" ] && [ -f "$E2E_STATE/display" ]; then
  DISPLAY=$(cat "$E2E_STATE/display")
  export DISPLAY
fi

fail() { echo "FAIL: $*" >&2; exit 1; }
note() { echo "--- $*" >&2; }

# wait_until SECONDS COMMAND...: polls COMMAND every 0.1 s until it succeeds.
wait_until() {
  local limit=$1; shift
  local deadline=$(( $(date +%s%N) + limit * 1000000000 ))
  until "$@"; do
    [ "$(date +%s%N)" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

# One persistent wineserver serves the whole ctest run: wine-setup starts it,
# wine-cleanup ends it. A server that ends by itself a few seconds after its
# last client races the next program that connects in that moment ("wine
# client error: recvmsg: Connection reset by peer"). A test that needs a new
# server (device state across sessions) calls wine_server_start again: it ends
# the running server, waits until it is gone and starts a persistent one.
# Wine's system processes (services, the simulated drivers' hosts) then live
# as long as the server and keep the output streams they were started with:
# they are started here, writing to a log, so that no test's pipe (ctest's,
# a command substitution's) stays open after the test.
wine_server_start() {
  local log="$E2E_STATE/wineserver.log"
  wineserver -k 2>/dev/null || true
  timeout 60 wineserver -w || fail "the wineserver did not end"
  wineserver -p </dev/null >>"$log" 2>&1 || fail "no wineserver could be started"
  timeout 300 wine wineboot </dev/null >>"$log" 2>&1 || fail "Wine's system processes did not start (see $log)"
}

# win_path FILE: the Windows name of a Unix file, for program arguments.
win_path() { wine winepath -w "$1" 2>/dev/null; }

# run_wine TIMEOUT PROGRAM.exe ARGS...: runs a console program with pipes,
# standard input from /dev/null unless redirected by the caller.
run_wine() {
  local limit=$1; shift
  timeout --kill-after=5 "$limit" wine "$@"
}

# expect_equal WHAT EXPECTED ACTUAL
expect_equal() {
  if [ "$2" != "$3" ]; then
    echo "FAIL: $1" >&2
    diff <(printf '%s' "$2") <(printf '%s' "$3") >&2 || true
    exit 1
  fi
}

# expect_contains WHAT NEEDLE HAYSTACK
expect_contains() {
  case "$3" in *"$2"*) ;; *) echo "FAIL: $1: missing «$2» in:" >&2; printf '%s\n' "$3" >&2; exit 1 ;; esac
}
