#include "program/process_end.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "monitor/text_output.h"
#include "platform/process.h"
#include "program/failure_description.h"
#include "program/runtime_error_line.h"
#include "program/startup_sequence.h"
#include "runtime/exception.h"
#include "runtime/runtime_errors.h"

namespace {

int g_exit_code = 0;
bool g_runtime_error_pending = false;
CodeAddress g_runtime_error_address = 0;

// The thread that ends the process; any other that tries must not end it
// first, with another code, or run the shutdown steps at the same time.
std::atomic<std::thread::id> g_ending_thread{};

void ClaimTheEnd() {
  std::thread::id self = std::this_thread::get_id();
  std::thread::id none{};
  if (g_ending_thread.compare_exchange_strong(none, self) || none == self) return;
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

}  // namespace

int ExitCode() { return g_exit_code; }

void WriteRuntimeErrorLine(TextOutput& log, std::uint8_t number, CodeAddress code_address) {
  // Made without memory and written without a string: the process may be
  // ending because memory ran out, and no failure may leave this path.
  char line[kRuntimeErrorLineSize];
  const std::size_t size = FormatRuntimeErrorLine(number, code_address, line);
  try {
    log.Flush();
  } catch (...) {
  }
  try {
    log.WriteLine(std::string_view(line, size), LineLevel::kError);
    // Written out now: the step that would flush at exit may have run already.
    log.Flush();
  } catch (...) {
  }
}

void EndProcess(int exit_code) {
  ClaimTheEnd();
  g_exit_code = exit_code;
  if (g_runtime_error_pending) {
    g_runtime_error_pending = false;
    WriteRuntimeErrorLine(StandardOutput(), static_cast<std::uint8_t>(exit_code),
                          g_runtime_error_address);
  }
  if (StartupSequence* sequence = ProcessStartupSequence()) {
    try {
      sequence->RunShutdown();
    } catch (...) {
      HandleCurrentFailure(CurrentCodeAddress());
    }
  }
  EndProcessNow(g_exit_code);
}

void RuntimeErrorEnd(std::uint8_t number, CodeAddress code_address) {
  ClaimTheEnd();
  g_runtime_error_pending = true;
  g_runtime_error_address = code_address;
  EndProcess(number);
}

void HandleUncaughtFailure(const FailureDescription& failure, CodeAddress code_address) {
  if (UncaughtFailureRoutine report = UncaughtFailureHook) report(failure, code_address);
  RuntimeErrorEnd(217, code_address);
}

void HandleCurrentFailure(CodeAddress taken_at) {
  FailureDescription failure = DescribeCurrentFailure();
  HandleUncaughtFailure(failure, failure.raise_address != 0 ? failure.raise_address : taken_at);
}
