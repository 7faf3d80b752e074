#!/usr/bin/env bash
# Formats the C++ sources with clang-format and the checkout's .clang-format,
# or with --check only tells which files it would change (and fails then).
# Installs clang-format when it is missing (Debian 12, as root).
#   bash scripts/format.sh [--check]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/scripts/install-packages.sh" clang-format
cd "$root"
mapfile -t files < <(find geometry parallel surftools locate measure fit render tools sample bench tests cmake \
  -name '*.cpp' -o -name '*.h' | sort)
if [ "${1:-}" = --check ]; then
  unformatted=()
  for file in "${files[@]}"; do
    clang-format --dry-run --Werror "$file" >/dev/null 2>&1 || unformatted+=("$file")
  done
  if [ ${#unformatted[@]} -gt 0 ]; then
    echo "Not formatted as .clang-format says (run bash scripts/format.sh): ${unformatted[*]}"
    exit 1
  fi
  echo "Every source is formatted (${#files[@]} files)"
else
  clang-format -i "${files[@]}"
fi
