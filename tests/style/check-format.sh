#!/usr/bin/env bash
# Fails when a C or C++ file of the tools, simulators or tests is not formatted
# as .clang-format says, and names the files to run clang-format -i on.
set -euo pipefail
cd "$1"
mapfile -t files < <(find monitor erase upload sim tests -type f \
  \( -name '*.c' -o -name '*.cc' -o -name '*.cpp' -o -name '*.h' \) | sort)
unformatted=()
for file in "${files[@]}"; do
  clang-format --dry-run -Werror "$file" >/dev/null 2>&1 || unformatted+=("$file")
done
if [ "${#unformatted[@]}" -ne 0 ]; then
  echo "not formatted (run clang-format -i on them):"
  printf '  %s\n' "${unformatted[@]}"
  exit 1
fi
echo "${#files[@]} files formatted"
