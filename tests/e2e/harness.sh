# The prefix answers, the fonts are in place and a display is there.
out=$(run_wine 60 cmd /c echo ready | tr -d '\r')
expect_equal "cmd in the prefix" "ready" "$out"
ls "$WINEPREFIX/drive_c/windows/Fonts/" | grep -qi 'sserife\|smalle\|tahoma' || fail "Wine's fonts missing in the prefix"
[ -n "${DISPLAY:-}" ] || fail "no display"
