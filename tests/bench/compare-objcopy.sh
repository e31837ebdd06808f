#!/usr/bin/env bash
# Whole-process time of hex-upload-sim (no device: it reads the file, then
# finds no bootloader ten times) against objcopy converting the same full
# 64 KiB HEX file to binary.
#   compare-objcopy.sh <hex-upload-sim> [runs]
# Build hex-upload-sim without sanitizers for numbers that mean something.
set -euo pipefail
sim=$1
runs=${2:-50}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c 65536 /dev/urandom > "$work/image.bin"
objcopy -I binary -O ihex "$work/image.bin" "$work/image.hex"

# average_ms COMMAND...: mean wall time of runs runs, in milliseconds.
average_ms() {
  local start end us
  start=$(date +%s%N)
  for _ in $(seq "$runs"); do "$@" >/dev/null 2>&1 || true; done
  end=$(date +%s%N)
  us=$(( (end - start) / runs / 1000 ))
  printf '%d.%03d' $((us / 1000)) $((us % 1000))
}

ours=$(SORBEL_SIM_ABSENT=1 average_ms "$sim" "$work/image.hex")
theirs=$(average_ms objcopy -I ihex -O binary "$work/image.hex" "$work/out.bin")
echo "file: $(wc -c < "$work/image.hex") bytes of HEX for 65536 bytes, $runs runs each"
echo "hex-upload-sim (SORBEL_SIM_ABSENT=1): $ours ms per run"
echo "objcopy -I ihex -O binary:           $theirs ms per run"
