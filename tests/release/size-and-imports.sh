#!/usr/bin/env bash
# Size report of the shipped programs, with their limits, and the DLLs they
# import: Windows system DLLs and msvcrt.dll only (everything else is linked
# statically).
set -euo pipefail
bin=$1 objdump=$2
declare -A limit_kib=([hex-upload]=40 [port-monitor]=150 [firmware-erase]=60)
allowed='^(kernel32|user32|gdi32|advapi32|comctl32|shlwapi|setupapi|hid|msvcrt|ntdll|shell32|ole32|cfgmgr32)\.dll$'
status=0
printf '%-20s %10s %10s  %s\n' program bytes limit imports
for p in hex-upload port-monitor firmware-erase; do
  exe="$bin/$p.exe"
  if [ ! -f "$exe" ]; then echo "$p.exe: not built"; status=1; continue; fi
  size=$(stat -c %s "$exe")
  imports=$("$objdump" -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u | tr '\n' ' ')
  printf '%-20s %10d %7d KiB  %s\n' "$p.exe" "$size" "${limit_kib[$p]}" "$imports"
  if [ "$size" -gt $(( ${limit_kib[$p]} * 1024 )) ]; then echo "  over its size limit"; status=1; fi
  for dll in $imports; do
    [[ $dll =~ $allowed ]] || { echo "  imports $dll, which is not a Windows system DLL"; status=1; }
  done
done
exit $status
