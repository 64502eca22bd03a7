#!/usr/bin/env bash
# Builds everything and runs every test: the main build (warnings are errors)
# with its whole ctest suite, then each extra stage in tools/test_stages/ in
# name order (sanitizer builds, static checks, fuzzing, other platforms).
#
#   tools/test_all.sh            all stages
#   STAGES=main tools/test_all.sh    only the main build and its tests
#
# Each stage prints what it runs and fails the whole run on any failure.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
stages=${STAGES:-all}
jobs=${JOBS:-$(nproc)}

run_stage() {
  echo "=== stage: $1" >&2
  local start=$SECONDS
  shift
  "$@"
  echo "=== done in $((SECONDS - start)) s" >&2
}

main_stage() {
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWARNINGS_AS_ERRORS=ON
  cmake --build build -j "$jobs"
  ctest --test-dir build -j "$jobs" --output-on-failure --timeout 300
}

run_stage main main_stage
if [[ $stages != main ]]; then
  for stage in tools/test_stages/*.sh; do
    [[ -e $stage ]] || continue
    run_stage "$(basename "$stage" .sh)" bash "$stage"
  done
fi
echo "=== all tests passed" >&2
