#!/usr/bin/env bash
# Whole-process time of hex-upload (no device: it reads the file, then finds
# no bootloader ten times) against objcopy converting the same full 64 KiB
# HEX file to binary. Runs alternate (ours, objcopy, ours, ...) so that
# machine load hits both alike; the result is the median of the per-pair
# ratios.
#   compare-objcopy.sh <hex-upload or hex-upload-sim> [pairs]
# Time the release build (build/release/bin/hex-upload): sanitizer builds
# say nothing about the shipped program.
set -euo pipefail
program=$1
pairs=${2:-50}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c 65536 /dev/urandom > "$work/image.bin"
objcopy -I binary -O ihex "$work/image.bin" "$work/image.hex"
export SORBEL_SIM_ABSENT=1  # hex-upload-sim: no simulated device either

# elapsed_us COMMAND...: wall time of one run in microseconds, without a
# timing process of its own (bash's clock).
elapsed_us() {
  local start=${EPOCHREALTIME/./} end
  "$@" > /dev/null 2>&1 || true
  end=${EPOCHREALTIME/./}
  echo $((end - start))
}

ours_all=() theirs_all=() ratios=()
for _ in $(seq "$pairs"); do
  ours=$(elapsed_us "$program" "$work/image.hex")
  theirs=$(elapsed_us objcopy -I ihex -O binary "$work/image.hex" "$work/out.bin")
  ours_all+=("$ours") theirs_all+=("$theirs")
  ratios+=("$(awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "%.4f", a / b }')")
done

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
echo "file: $(wc -c < "$work/image.hex") bytes of HEX for 65536 bytes, $pairs pairs"
echo "$(basename "$program"): median $(median "${ours_all[@]}") us per run"
echo "objcopy -I ihex -O binary: median $(median "${theirs_all[@]}") us per run"
echo "median of per-pair ratios (ours / objcopy): $(median "${ratios[@]}")"
