#!/usr/bin/env bash
# Every C and C++ source is formatted by the checked-in .clang-format.
set -euo pipefail
# shellcheck source=tools/test_stages/stage_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/stage_lib.sh"

listing=$(source_files)
mapfile -t files <<<"$listing"
echo "clang-format --dry-run -Werror on ${#files[@]} files, $jobs at a time" >&2
printf '%s\n' "${files[@]}" | xargs -P "$jobs" -n 20 clang-format --dry-run -Werror
