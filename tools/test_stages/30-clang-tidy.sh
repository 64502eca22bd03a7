#!/usr/bin/env bash
# Static checks: no circles among the product's units, closed by includes or
# by calls between their object files (tools/check_include_circles.py);
# clang-tidy with the checked-in .clang-tidy over the product sources
# (demo_server/, monitor/, platform/, program/, runtime/, transport/; not the
# tests), every warning an error. Uses a build directory of its own
# (build-tidy/), in which it builds only the product's objects, for their
# symbols.
set -euo pipefail
# shellcheck source=tools/test_stages/stage_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/stage_lib.sh"

dir=build-tidy

run cmake -S . -B "$dir" -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DWARNINGS_AS_ERRORS=ON

# No product unit includes or calls, directly or through others, one that
# includes or calls it back. The check reads the symbols of the objects.
object_list=$(python3 tools/check_include_circles.py --list-objects "$dir")
mapfile -t objects <<<"$object_list"
run cmake --build "$dir" -j "$jobs" --target "${objects[@]}"
run python3 tools/check_include_circles.py --known tools/include_circles_known.txt --objects "$dir"

# Every translation unit of the build under the product directories, without
# the tests and their helpers (*_test.cpp, testing/, the tests'
# probe programs *_test_probe.cpp).
mapfile -t files < <(
  sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$dir/compile_commands.json" |
    grep -E "^$PWD/(demo_server|monitor|platform|program|runtime|transport)/" |
    grep -vE '_test(_probe)?\.cpp$|/testing/' | sort -u
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
