#!/usr/bin/env bash
# Sanitizer stage: the whole project built twice more and its whole ctest suite
# run in each build,
#   build-asan/  AddressSanitizer with LeakSanitizer, and UndefinedBehaviorSanitizer
#   build-tsan/  ThreadSanitizer
# Any sanitizer report fails the stage: every report aborts the program that
# made it (so the test that ran it fails), and every report is also written to
# a file under build-*/sanitizer-reports/, which the stage checks afterwards,
# so a report from a child process whose end a test does not look at still
# counts.
#
#   bash tools/test_stages/20-sanitizers.sh          both builds
#   SANITIZERS=thread bash tools/...                  one of them
set -euo pipefail
# shellcheck source=tools/test_stages/stage_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/stage_lib.sh"

sanitizers=${SANITIZERS:-"address thread"}

# Fails when the sanitizers wrote any report, and shows the reports.
check_reports() {
  local dir=$1
  shopt -s nullglob
  local reports=("$dir"/*)
  shopt -u nullglob
  if ((${#reports[@]} > 0)); then
    echo "sanitizer reports in $dir:" >&2
    for report in "${reports[@]}"; do
      echo "--- $report" >&2
      cat "$report" >&2
    done
    return 1
  fi
}

# The tests of the processor-fault handlers: they fault on purpose, and the
# handlers turn the fault into an error object and a report, as the program's
# design asks, which allocates and formats inside the signal handler.
fault_tests='^(ProcessorFaultHandlersTest|ErrorMachineryTest)\.'

# Configures, builds and tests one sanitizer build. Test executables are run
# while building too (ctest's test discovery), under the same options.
sanitizer_stage() {
  local name=$1 sanitize=$2
  local dir=build-$name
  local reports=$PWD/$dir/sanitizer-reports
  rm -rf "$reports"
  mkdir -p "$reports"
  # The program installs its own processor-fault handlers, and the fault
  # tests check that a fault with the handlers removed gets the system's
  # default treatment (death by the signal): the sanitizers' own handlers
  # (handle_*) would replace it with a report. A wild access in any other
  # test still ends that test by its signal.
  local own_faults=handle_segv=0:handle_sigbus=0:handle_sigfpe=0
  # Environment of the fault tests, when they need options of their own.
  local fault_environment=()
  export ASAN_OPTIONS UBSAN_OPTIONS TSAN_OPTIONS
  case $sanitize in
    address)
      # verify_asan_link_order=0: the start-up failure test preloads a
      # one-function library (failing uname) ahead of the runtime; it defines
      # nothing that the runtime intercepts.
      ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:halt_on_error=1
      ASAN_OPTIONS+=:detect_stack_use_after_return=1:check_initialization_order=1
      ASAN_OPTIONS+=:strict_init_order=1:strict_string_checks=1
      ASAN_OPTIONS+=:$own_faults:verify_asan_link_order=0
      ASAN_OPTIONS+=:log_path=$reports/asan
      UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:log_path=$reports/ubsan
      ;;
    thread)
      TSAN_OPTIONS=halt_on_error=1:abort_on_error=1:second_deadlock_stack=1
      TSAN_OPTIONS+=:$own_faults
      TSAN_OPTIONS+=:log_path=$reports/tsan
      # A processor fault is synchronous: the handler runs in place of the
      # faulting instruction, not in the middle of an arbitrary call. The
      # "signal-unsafe call" check stays on for every other test (the demo
      # server's interrupt handler among them).
      fault_environment=("TSAN_OPTIONS=$TSAN_OPTIONS:report_signal_unsafe=0")
      ;;
  esac
  echo "ASAN_OPTIONS=${ASAN_OPTIONS-}" >&2
  echo "UBSAN_OPTIONS=${UBSAN_OPTIONS-}" >&2
  echo "TSAN_OPTIONS=${TSAN_OPTIONS-}" >&2

  # -O1: instrumented code at -O0 runs the socket and end-to-end tests
  # needlessly slowly; -O1 keeps every finding and readable stacks.
  run cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-g -O1" \
    -DWARNINGS_AS_ERRORS=ON -DSANITIZE="$sanitize"
  run cmake --build "$dir" -j "$jobs"
  check_reports "$reports"
  local status=0
  local ctest=(ctest --test-dir "$dir" -j "$jobs" --output-on-failure --timeout 300)
  if ((${#fault_environment[@]} > 0)); then
    run "${ctest[@]}" -E "$fault_tests" || status=$?
    run env "${fault_environment[@]}" "${ctest[@]}" -R "$fault_tests" || status=$?
  else
    run "${ctest[@]}" || status=$?
  fi
  check_reports "$reports" || status=1
  unset ASAN_OPTIONS UBSAN_OPTIONS TSAN_OPTIONS
  return "$status"
}

for sanitizer in $sanitizers; do
  case $sanitizer in
    address)
      echo "=== AddressSanitizer + LeakSanitizer + UndefinedBehaviorSanitizer" >&2
      sanitizer_stage asan address
      ;;
    thread)
      echo "=== ThreadSanitizer" >&2
      sanitizer_stage tsan thread
      ;;
    *)
      echo "unknown sanitizer '$sanitizer' (address, thread)" >&2
      exit 2
      ;;
  esac
done
echo "=== sanitizer builds: no findings" >&2
