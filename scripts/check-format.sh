#!/usr/bin/env bash
# Fails if any of our C++ files is not clang-format clean.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.c' 2>/dev/null || find src tests tools -name '*.cpp' -o -name '*.h' -o -name '*.c')
((${#files[@]})) || exit 0
clang-format --dry-run --Werror "${files[@]}"
