#!/usr/bin/env bash
# Fuzzing stage: builds the libFuzzer targets of fuzz/ with clang, coverage
# instrumentation and the address and undefined-behaviour sanitizers in
# build-fuzz/, builds the benchmarks there too (so that they keep compiling;
# they are not run here), then runs each fuzz target for FUZZ_SECONDS
# (default 60), two at a time. Any crash, sanitizer report, leak, time-out
# or mismatch found by a target fails the stage; its input is kept under
# build-fuzz/artifacts/.
#
#   bash tools/test_stages/50-fuzz.sh            from the repository root
#   FUZZ_SECONDS=600 bash tools/test_stages/50-fuzz.sh   a longer run
set -euo pipefail
# shellcheck source=tools/test_stages/stage_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/stage_lib.sh"

seconds=${FUZZ_SECONDS:-60}
build="build-fuzz"

run env CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWARNINGS_AS_ERRORS=ON \
  -DBUILD_TESTING=OFF -DFUZZ=ON -DBUILD_BENCHMARKS=ON
run cmake --build "$build" -j "$jobs"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# fuzz_target NAME MAX_LEN: runs one target on a fresh work corpus seeded
# from fuzz/corpus/NAME; prints libFuzzer's final figures.
fuzz_target() {
  local name=$1 max_len=$2
  local work=$build/corpus/$name log=$build/logs/$name.log
  rm -rf "$work"
  mkdir -p "$work" "$build/artifacts" "$build/logs"
  echo "+ $build/bin/${name}_fuzzer -max_total_time=$seconds -max_len=$max_len $work fuzz/corpus/$name" >&2
  if "$build/bin/${name}_fuzzer" -max_total_time="$seconds" -max_len="$max_len" -timeout=20 \
      -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$build/artifacts/$name-" \
      "$work" "fuzz/corpus/$name" >"$log" 2>&1; then
    echo "--- $name: $(grep -E '^#[0-9]+\s+DONE' "$log" | tail -1)" >&2
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$log" | sed "s/^/--- $name: /" >&2
  else
    echo "--- $name FAILED; the last lines of its log ($log):" >&2
    tail -n 60 "$log" >&2
    return 1
  fi
}

# Two lanes when two jobs may run: the receive path (the slowest per input)
# alone, the two pure text targets one after the other. One lane with JOBS=1.
status=0
if ((jobs >= 2)); then
  fuzz_target receive_path 4096 &
  lane_a=$!
else
  fuzz_target receive_path 4096 || status=1
fi
fuzz_target extract_between 4096 || status=1
fuzz_target address_text 64 || status=1
if ((jobs >= 2)); then
  wait "$lane_a" || status=1
fi
if [[ $status -ne 0 ]]; then
  echo "fuzzing found a fault" >&2
  exit 1
fi
echo "fuzzing: no crash, sanitizer report or mismatch in any target" >&2
