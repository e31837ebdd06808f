#!/usr/bin/env bash
# hex-upload --watch on a simulated bench: boards written per minute on one
# port and on eight, each board taking 5 ms per feature report, leaving the
# bus once written and replaced by a new one a search later. The issue's
# aim: eight ports write at least 0.8 x 8 x one port's rate. By hand, not a
# timed test.
#   watch-rate.sh <hex-upload> <libsorbel-hidraw-sim.so> [boards per port]
set -euo pipefail
program=$(realpath "$1") library=$(realpath "$2")
per_port=${3:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c 8192 /dev/urandom > "$work/image.bin"
objcopy -I binary -O ihex "$work/image.bin" "$work/image.hex"
preload=$library
asan=$(ldd "$program" | awk '/libasan\.so/ { print $3 }')
[ -z "$asan" ] || preload="$asan:$library"

# per_minute PORTS: boards written per minute with that many ports.
per_minute() {
  local ports=$1 count=$(( $1 * per_port )) start end
  start=$EPOCHREALTIME
  env LD_PRELOAD="$preload" SORBEL_SIM_DEVICES="$ports" SORBEL_SIM_REPORT_DELAY=5 \
    SORBEL_SIM_LEAVE_WRITTEN=1 SORBEL_SIM_REPLUG_AFTER=2 \
    "$program" --watch --count "$count" "$work/image.hex" > "$work/out" ||
    { cat "$work/out" >&2; exit 1; }
  end=$EPOCHREALTIME
  echo $(( count * 60000000 / (${end/./} - ${start/./}) ))
}
one=$(per_minute 1)
eight=$(per_minute 8)
echo "one port: $one boards/min; eight ports: $eight boards/min; aim: $(( one * 64 / 10 ))"
[ "$eight" -ge $(( one * 64 / 10 )) ]
