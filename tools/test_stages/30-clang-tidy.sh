#!/usr/bin/env bash
# Static checks: no include circles among the product's units
# (tools/check_include_circles.py); clang-tidy with the checked-in .clang-tidy
# over the product sources (demo_server/, monitor/, platform/, program/,
# runtime/, transport/; not the tests), every warning an error. Uses the
# compile commands of a build directory of its own (build-tidy/), which it
# only configures.
set -euo pipefail
# shellcheck source=tools/test_stages/stage_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/stage_lib.sh"

dir=build-tidy

# No product unit includes, directly or through others, one that includes it
# back.
run python3 tools/check_include_circles.py --known tools/include_circles_known.txt

run cmake -S . -B "$dir" -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DWARNINGS_AS_ERRORS=ON

# Every translation unit of the build under the product directories, without
# the tests and their helpers (*_test.cpp, testing/, test probes).
mapfile -t files < <(
  sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$dir/compile_commands.json" |
    grep -E "^$PWD/(demo_server|monitor|platform|program|runtime|transport)/" |
    grep -vE '(_test|_probe)\.cpp$|/testing/' | sort -u
)
if ((${#files[@]} == 0)); then
  echo "no product sources found in $dir/compile_commands.json" >&2
  exit 1
fi

echo "clang-tidy on ${#files[@]} files, $jobs at a time" >&2
# xargs ends with a non-zero status when any clang-tidy run failed (pipefail
# keeps it); the count of suppressed warnings in system headers is dropped.
printf '%s\n' "${files[@]}" | xargs -P "$jobs" -n 4 clang-tidy -p "$dir" --quiet 2>&1 |
  { grep -vE '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$' || true; }
echo "clang-tidy: no findings" >&2
