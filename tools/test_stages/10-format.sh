#!/usr/bin/env bash
# Every C and C++ source is formatted by the checked-in .clang-format.
set -euo pipefail
mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.c' '*.cc')
echo "clang-format --dry-run -Werror on ${#files[@]} files" >&2
clang-format --dry-run -Werror "${files[@]}"
