#!/usr/bin/env bash
# Formats the C++ sources with the project's .clang-format (clang-format 14 from Debian).
#   scripts/format.sh           rewrite the files in place
#   scripts/format.sh --check   only report files that differ; non-zero exit when any does
set -euo pipefail
cd "$(dirname "$0")/.."

format=$(command -v clang-format-14 || command -v clang-format)
mapfile -t files < <(git ls-files '*.h' '*.cpp')
if [ "${1:-}" = "--check" ]; then
    "$format" --dry-run -Werror "${files[@]}"
else
    "$format" -i "${files[@]}"
fi
