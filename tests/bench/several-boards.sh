#!/usr/bin/env bash
# hex-upload --all against eight simulated boards, each taking 5 ms per
# feature report as a low-speed device does, against the same 30 KiB file
# written into one board alone. Runs alternate (one, eight, one, ...) so that
# machine load hits both alike; the result is the median of the per-pair
# ratios, which must stay at or below 1.25.
#   several-boards.sh <hex-upload> <libsorbel-hidraw-sim.so> [pairs]
# Time the release build (build/release/bin/hex-upload) with the simulator of
# the linux preset (built without sanitizers).
set -euo pipefail
program=$1 library=$2
pairs=${3:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c 30720 /dev/urandom > "$work/image.bin"
objcopy -I binary -O ihex "$work/image.bin" "$work/image.hex"
preload=$library
asan=$(ldd "$program" | awk '/libasan\.so/ { print $3 }')
[ -z "$asan" ] || preload="$asan:$library"

# elapsed_ms BOARDS ARGUMENTS...: wall time of one run in milliseconds.
elapsed_ms() {
  local boards=$1 start end
  shift
  start=$EPOCHREALTIME
  env LD_PRELOAD="$preload" SORBEL_SIM_DEVICES="$boards" SORBEL_SIM_REPORT_DELAY=5 \
    SORBEL_SIM_FLASH_SIZE=65536 "$program" "$@" "$work/image.hex" > "$work/out" ||
    { cat "$work/out" >&2; exit 1; }
  end=$EPOCHREALTIME
  echo $(( (${end/./} - ${start/./}) / 1000 ))
}

ratios=() ones=() eights=()
for ((i = 0; i < pairs; i++)); do
  one=$(elapsed_ms 1)
  eight=$(elapsed_ms 8 --all)
  grep -qx 'Summary: 8 of 8 written' "$work/out" || { echo "not all eight written" >&2; exit 1; }
  ones+=("$one") eights+=("$eight")
  ratios+=("$(awk -v a="$eight" -v b="$one" 'BEGIN { printf "%.3f", a / b }')")
done
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio=$(median "${ratios[@]}")
echo "one board: median $(median "${ones[@]}") ms; eight boards with --all: median $(median "${eights[@]}") ms"
echo "ratio (median of $pairs pairs): $ratio (limit 1.25)"
awk -v r="$ratio" 'BEGIN { exit !(r <= 1.25) }'
